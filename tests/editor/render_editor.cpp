// Renders the editor to PNG files, for looking at it without a window:
//     quillo_render_editor <defaults.png> <changed.png>
// The second picture shows a synced square LFO with depth 1 and offsets apart,
// after one audio block has published the new states.

#include "EditorTestSupport.h"

#include <iostream>

namespace
{
    bool writePng (juce::Component& editor, const juce::String& path)
    {
        const auto image = editor_testing::render (editor);
        juce::File file (juce::File::getCurrentWorkingDirectory().getChildFile (path));
        file.deleteFile();
        juce::FileOutputStream stream (file);
        juce::PNGImageFormat png;
        return stream.openedOk() && png.writeImageToStream (image, stream);
    }
}

int main (int argc, char* argv[])
{
    if (argc != 3)
    {
        std::cerr << "usage: quillo_render_editor <defaults.png> <changed.png>\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI gui;
    bool written = true;

    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);
        written = writePng (editor, argv[1]) && written;
    }

    {
        QuilloAudioProcessor processor;
        using editor_testing::setParameter;
        setParameter (processor, "sync", 1.0f);
        setParameter (processor, "waveform", 1.0f);
        setParameter (processor, "depth", 1.0f);
        setParameter (processor, "rate", 2.0f);
        setParameter (processor, "limit", 0.3f);
        setParameter (processor, "offsetr", 0.25f);
        setParameter (processor, "dry", 0.4f);
        editor_testing::publishStates (processor);

        QuilloAudioProcessorEditor editor (processor);
        written = writePng (editor, argv[2]) && written;
    }

    if (! written)
        std::cerr << "could not write the pictures\n";

    return written ? 0 : 1;
}
