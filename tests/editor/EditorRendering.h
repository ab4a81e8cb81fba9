#pragma once

// Rendering the editor into pictures. Free of any test framework, so the
// picture tool and the painting benchmark use it too.

#include "QuilloAudioProcessorEditor.h"

namespace editor_testing
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;

    /** Prepares the processor (which settles every ramp on the current targets)
        and runs one stereo block, which publishes the tremolo states. */
    inline void publishStates (QuilloAudioProcessor& processor)
    {
        processor.setPlayConfigDetails (2, 2, sampleRate, blockSize);
        processor.prepareToPlay (sampleRate, blockSize);
        juce::AudioBuffer<float> buffer (2, blockSize);
        buffer.clear();
        juce::MidiBuffer midi;
        processor.processBlock (buffer, midi);
    }

    /** The curve display: the one component that sits inside a panel. */
    inline juce::Component* findDisplay (juce::Component& editor)
    {
        for (auto* child : editor.getChildren())
            if (dynamic_cast<OrvelBox*> (child) != nullptr && child->getNumChildComponents() == 1)
                return child->getChildComponent (0);

        return nullptr;
    }

    /** Paints a component and its children as the screen would, at scale 1. */
    inline juce::Image render (juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, juce::jmax (1, component.getWidth()), juce::jmax (1, component.getHeight()), true);
        juce::Graphics g (image);
        component.paintEntireComponent (g, true);
        return image;
    }

    /** Writes a picture, replacing any file of that name. False if it could not. */
    inline bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream stream (file);
        juce::PNGImageFormat png;
        return stream.openedOk() && png.writeImageToStream (image, stream);
    }

    /** Editor and display as they look for the processor's current parameters,
        once an audio block has published the tremolo states they give. */
    inline juce::Image renderEditor (QuilloAudioProcessor& processor)
    {
        publishStates (processor);
        QuilloAudioProcessorEditor editor (processor);
        return render (editor);
    }
}
