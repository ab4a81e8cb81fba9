// Prints, as JUCE's memory-block text (the form the settings file keeps it in),
// the effect state of a processor with the given parameter values:
//
//   quillo_state_tool [id=value ...]
//
// Values are in the parameters' own units (Hz for "rate", the index for "waveform").

#include "QuilloAudioProcessor.h"

#include <iostream>

int main (int argc, char** argv)
{
    const juce::ScopedJuceInitialiser_GUI juce;
    int status = 0;

    {
        QuilloAudioProcessor processor;

        for (int i = 1; i < argc; ++i)
        {
            const juce::String argument (argv[i]);
            auto* parameter = processor.parametersManager.valueTreeState.getParameter (argument.upToFirstOccurrenceOf ("=", false, false));

            if (parameter == nullptr || ! argument.contains ("="))
            {
                std::cerr << "unknown parameter: " << argv[i] << "\n";
                status = 2;
                break;
            }

            parameter->setValueNotifyingHost (parameter->convertTo0to1 (argument.fromFirstOccurrenceOf ("=", false, false).getFloatValue()));
        }

        if (status == 0)
        {
            juce::MemoryBlock state;
            processor.getStateInformation (state);
            std::cout << state.toBase64Encoding() << std::endl;
        }
    }

    return status;
}
