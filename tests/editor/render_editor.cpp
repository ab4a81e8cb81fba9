// Renders the editor to a PNG file, for looking at it without a window:
//     quillo_render_editor <picture.png> [id=value ...]
// Each id=value sets one parameter, by its id (dry, wet, depth, rate, waveform,
// smoothing, figure, sync, offsetl, offsetr, limit), from the text a user could
// type into its knob: "waveform=Square", "sync=True", "depth=0.8". One audio
// block then publishes the tremolo states, so the curves show the settings.

#include "EditorRendering.h"

#include <cstring>
#include <iostream>

namespace
{
    /** Sets a parameter from "id=value", read as the knob reads typed text. */
    bool applyAssignment (QuilloAudioProcessor& processor, const juce::String& assignment)
    {
        const auto id = assignment.upToFirstOccurrenceOf ("=", false, false).trim();
        const auto text = assignment.fromFirstOccurrenceOf ("=", false, false).trim();
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);

        if (! assignment.contains ("=") || parameter == nullptr)
        {
            std::cerr << "not a parameter assignment: " << assignment << "\n";
            return false;
        }

        parameter->setValueNotifyingHost (parameter->getValueForText (text));
        std::cout << id << " = " << parameter->getCurrentValueAsText() << "\n";
        return true;
    }
}

int main (int argc, char* argv[])
{
    if (argc < 2)
    {
        std::cerr << "usage: quillo_render_editor <picture.png> [id=value ...]\n";
        return 2;
    }

    for (int i = 1; i < argc; ++i)
    {
        if (! juce::CharPointer_UTF8::isValidString (argv[i], (int) std::strlen (argv[i])))
        {
            std::cerr << "argument " << i << " is not UTF-8\n";
            return 2;
        }
    }

    const juce::ScopedJuceInitialiser_GUI gui;
    QuilloAudioProcessor processor;

    for (int i = 2; i < argc; ++i)
        if (! applyAssignment (processor, juce::String::fromUTF8 (argv[i])))
            return 2;

    const auto picture = juce::File::getCurrentWorkingDirectory().getChildFile (juce::String::fromUTF8 (argv[1]));

    if (! editor_testing::writePng (editor_testing::renderEditor (processor), picture))
    {
        std::cerr << "could not write " << argv[1] << "\n";
        return 1;
    }

    return 0;
}
