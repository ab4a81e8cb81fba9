// Prints, as JUCE's memory-block text (the form the settings file keeps it in),
// the effect state of a processor with the given parameter values:
//
//   quillo_state_tool [id=value ...]
//
// Values are in the parameters' own units (Hz for "rate", the index for "waveform").

#include "ParameterAccess.h"

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
            const auto id = argument.upToFirstOccurrenceOf ("=", false, false);
            const auto value = argument.fromFirstOccurrenceOf ("=", false, false).getFloatValue();

            if (! argument.contains ("=") || ! testing_support::trySetParameter (processor, id, value))
            {
                std::cerr << "unknown parameter: " << argv[i] << "\n";
                status = 2;
                break;
            }
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
