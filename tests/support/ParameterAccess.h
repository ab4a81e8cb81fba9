#pragma once

#include "QuilloAudioProcessor.h"

// Free of any test framework, so tools and benchmarks use it too.
namespace testing_support
{
    /** The ids of the eleven parameters, in the order the processor creates them. */
    inline const juce::StringArray parameterIds { "dry", "wet", "depth", "rate", "waveform", "smoothing",
                                                  "figure", "sync", "offsetl", "offsetr", "limit" };

    /** Sets a parameter the way a knob or host does, in its own units. False,
        with nothing set, when no parameter has that id. */
    inline bool trySetParameter (QuilloAudioProcessor& processor, const juce::String& id, float value)
    {
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);

        if (parameter == nullptr)
            return false;

        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
        return true;
    }
}
