#pragma once

#include "QuilloAudioProcessor.h"

namespace testing_support
{
    /** Sets a parameter the way a knob or host does, in its own units. */
    inline void setParameter (QuilloAudioProcessor& processor, const juce::String& id, float value)
    {
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);
        jassert (parameter != nullptr);
        parameter->setValueNotifyingHost (parameter->convertTo0to1 (value));
    }

    inline float parameterValue (QuilloAudioProcessor& processor, const juce::String& id)
    {
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);
        return parameter->convertFrom0to1 (parameter->getValue());
    }
}
