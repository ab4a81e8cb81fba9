#pragma once

#include "ParameterAccess.h"
#include "QuilloAudioProcessorEditor.h"

#include <memory>

// JUCE's own step of the Linux message loop; modal loops are compiled out, so
// the tests drive the queue themselves.
namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

namespace editor_testing
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;

    using testing_support::setParameter;
    using testing_support::parameterValue;

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

    /** Types text into a knob's value box and commits it, as a user would. */
    inline void typeInto (juce::Slider& slider, const juce::String& text)
    {
        slider.showTextBox();

        for (auto* child : slider.getChildren())
            if (auto* box = dynamic_cast<juce::Label*> (child))
                if (auto* textEditor = box->getCurrentTextEditor())
                {
                    textEditor->setText (text, false);
                    box->hideEditor (false);
                    return;
                }
    }

    inline juce::Slider& knob (juce::Component& editor, const juce::String& id)
    {
        auto* slider = dynamic_cast<juce::Slider*> (editor.findChildWithID (id));
        jassert (slider != nullptr);
        return *slider;
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

    inline void dispatchPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true)) {}
    }

    /** A timer that only counts its callbacks: the tests' measure of how long
        the message loop has run, in place of a clock. */
    struct TickCounter : private juce::Timer
    {
        explicit TickCounter (int intervalMs)    { startTimer (intervalMs); }
        ~TickCounter() override                  { stopTimer(); }

        void timerCallback() override            { ++ticks; }

        int ticks = 0;
    };

    /** Runs the message loop until the condition holds or a 10 ms timer has
        ticked the given number of times. Returns the condition. */
    template <typename Condition>
    bool runMessageLoopUntil (Condition&& condition, int maxTicks = 300)
    {
        TickCounter clock (10);

        while (! condition() && clock.ticks < maxTicks)
            juce::dispatchNextMessageOnSystemQueue (false);

        return condition();
    }
}
