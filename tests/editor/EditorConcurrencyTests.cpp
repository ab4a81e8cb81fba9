#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{
    using namespace editor_testing;

    /** Runs blocks on its own thread, as an audio device would, until stopped. */
    class AudioThread
    {
    public:
        explicit AudioThread (QuilloAudioProcessor& p) : processor (p)
        {
            processor.setPlayConfigDetails (2, 2, sampleRate, blockSize);
            processor.prepareToPlay (sampleRate, blockSize);
            thread = std::thread ([this] {
                juce::AudioBuffer<float> buffer (2, blockSize);
                juce::MidiBuffer midi;

                while (! stop.load())
                {
                    buffer.clear();
                    buffer.setSample (0, 0, 1.0f);
                    processor.processBlock (buffer, midi);
                    blocks.fetch_add (1);
                }
            });
        }

        ~AudioThread()
        {
            stop.store (true);
            thread.join();
        }

        std::atomic<int> blocks { 0 };

    private:
        QuilloAudioProcessor& processor;
        std::atomic<bool> stop { false };
        std::thread thread;
    };

    TEST (EditorConcurrencyTest, EditorComesAndGoesWhileAudioRuns)
    {
        QuilloAudioProcessor processor;

        juce::MemoryBlock squareState;
        {
            QuilloAudioProcessor other;
            setParameter (other, "waveform", 1.0f);
            setParameter (other, "sync", 1.0f);
            setParameter (other, "depth", 0.7f);
            other.getStateInformation (squareState);
        }

        AudioThread audio (processor);

        for (int round = 0; round < 6; ++round)
        {
            SCOPED_TRACE (round);
            std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());

            for (int step = 0; step < 8; ++step)
            {
                const auto value = (float) step / 8.0f;
                knob (*editor, "depth").setValue (value, juce::sendNotificationSync);
                knob (*editor, "rate").setValue (10.0f * value, juce::sendNotificationSync);
                knob (*editor, "offsetl").setValue (value, juce::sendNotificationSync);
                knob (*editor, "limit").setValue (1.0f - value, juce::sendNotificationSync);
                knob (*editor, "waveform").setValue (step % 4, juce::sendNotificationSync);
                typeInto (knob (*editor, "smoothing"), "0.3");
                typeInto (knob (*editor, "offsetr"), juce::String (value));
                render (*editor);
                dispatchPendingMessages();
            }

            processor.setStateInformation (squareState.getData(), (int) squareState.getSize());
            render (*editor);
            dispatchPendingMessages();

            EXPECT_FLOAT_EQ ((float) knob (*editor, "depth").getValue(), 0.7f);
            EXPECT_TRUE (knob (*editor, "limit").isEnabled());
            EXPECT_FALSE (knob (*editor, "rate").isEnabled());
        }

        EXPECT_GT (audio.blocks.load(), 0);
        EXPECT_FLOAT_EQ (processor.smoothingParameter.getTargetValue(), 0.02f);   // the restored state's default
    }

    TEST (EditorConcurrencyTest, EditorBeforePrepareToPlay)
    {
        QuilloAudioProcessor processor;
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
        const auto image = render (*editor);
        EXPECT_EQ (image.getPixelAt (0, 0), juce::Colour (0xff555555));

        // The display shows the processor's initial states (half depth) until a block runs.
        const auto display = render (*findDisplay (*editor));
        EXPECT_EQ (display.getPixelAt (1, 1), juce::Colour (0xff1e1e1e));

        knob (*editor, "depth").setValue (1.0, juce::sendNotificationSync);
        render (*editor);
        editor.reset();

        // Audio may start after the editor came and went.
        AudioThread audio (processor);
        editor.reset (processor.createEditor());

        while (audio.blocks.load() < 2)
            std::this_thread::yield();

        render (*editor);
    }

    TEST (EditorConcurrencyTest, HostAutomatesSyncAndWaveformWhileTheEditorRuns)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);
        AudioThread audio (processor);
        std::atomic<bool> automationDone { false };

        // A host's thread changes both, as automation would, while the editor's
        // timers, its knobs and its display run on the message thread.
        std::thread automation ([&] {
            for (int i = 0; i < 2000; ++i)
            {
                setParameter (processor, "sync", (float) (i % 2));
                setParameter (processor, "waveform", (float) (i % 4));
            }

            setParameter (processor, "sync", 1.0f);
            setParameter (processor, "waveform", 2.0f);
            automationDone.store (true);
        });

        runMessageLoopUntil ([&] { render (editor); return automationDone.load(); }, 3000);
        automation.join();

        // The knobs end up as the last values say.
        EXPECT_TRUE (runMessageLoopUntil ([&] {
            return knob (editor, "figure").isEnabled() && ! knob (editor, "rate").isEnabled()
                   && ! knob (editor, "limit").isEnabled() && knob (editor, "smoothing").isEnabled();
        }));
    }
}
