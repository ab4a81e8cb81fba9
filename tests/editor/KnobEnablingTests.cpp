#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

// JUCE's own step of the Linux message loop; modal loops are compiled out, so
// the test drives the queue itself.
namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

namespace
{
    using namespace editor_testing;

    const juce::StringArray allIds { "dry", "wet", "waveform", "smoothing", "offsetl", "offsetr",
                                     "depth", "rate", "figure", "sync", "limit" };

    /** Ids of the disabled knobs, sorted, joined with spaces. */
    juce::String disabledKnobs (juce::Component& editor)
    {
        juce::StringArray disabled;

        for (const auto& id : allIds)
            if (! knob (editor, id).isEnabled())
                disabled.add (id);

        disabled.sort (false);
        return disabled.joinIntoString (" ");
    }

    void dispatchPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true)) {}
    }

    TEST (KnobEnablingTest, NewEditorStartsFromTheCurrentTargets)
    {
        struct Case { float sync, waveform; const char* disabled; };
        const Case cases[] {
            { 0.0f, 0.0f, "figure limit smoothing" },
            { 1.0f, 1.0f, "rate" },
            { 1.0f, 2.0f, "limit rate" },
            { 0.0f, 3.0f, "figure limit smoothing" },
        };

        for (const auto& c : cases)
        {
            QuilloAudioProcessor processor;
            setParameter (processor, "sync", c.sync);
            setParameter (processor, "waveform", c.waveform);
            QuilloAudioProcessorEditor editor (processor);
            EXPECT_EQ (disabledKnobs (editor), c.disabled) << "sync " << c.sync << " waveform " << c.waveform;
        }
    }

    TEST (KnobEnablingTest, FollowsEveryChangeOfSyncAndWaveform)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);

        struct Step { const char* id; float value; const char* disabled; };
        const Step steps[] {
            { "waveform", 2.0f, "figure limit" },
            { "waveform", 3.0f, "figure limit smoothing" },
            { "waveform", 1.0f, "figure" },
            { "sync",     1.0f, "rate" },
            { "depth",    0.9f, "rate" },                 // other parameters change nothing
            { "rate",     3.0f, "rate" },
            { "sync",     0.0f, "figure" },
            { "waveform", 0.0f, "figure limit smoothing" },
        };

        for (const auto& step : steps)
        {
            setParameter (processor, step.id, step.value);
            EXPECT_EQ (disabledKnobs (editor), step.disabled) << step.id << " = " << step.value;
        }
    }

    TEST (KnobEnablingTest, ValuesAreTruncatedAndOutOfRangeSelectsNoShape)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);

        struct Call { const char* id; float value; const char* disabled; };
        const Call calls[] {
            { "waveform", 1.9f,  "figure" },                        // truncated, not rounded: Square
            { "waveform", 2.99f, "figure limit" },                  // Saw
            { "waveform", -0.5f, "figure limit smoothing" },        // truncates to 0: Sine
            { "waveform", 1.0f,  "figure" },
            { "waveform", -1.0f, "figure limit smoothing" },
            { "waveform", 1.0f,  "figure" },
            { "waveform", 4.0f,  "figure limit smoothing" },
            { "waveform", 1.0f,  "figure" },
            { "waveform", 1.0e10f, "figure limit smoothing" },
            { "waveform", 1.0f,  "figure" },
            { "waveform", std::numeric_limits<float>::quiet_NaN(), "figure limit smoothing" },
            { "sync",     0.5f,  "limit rate smoothing" },          // anything but 0 is on
            { "sync",     -1.0f, "limit rate smoothing" },
            { "sync",     0.0f,  "figure limit smoothing" },
            { "Sync",     1.0f,  "figure limit smoothing" },        // ids are case-sensitive
            { "depth",    1.0f,  "figure limit smoothing" },
        };

        for (const auto& call : calls)
        {
            editor.parameterChanged (call.id, call.value);
            EXPECT_EQ (disabledKnobs (editor), call.disabled) << call.id << " = " << call.value;
        }
    }

    TEST (KnobEnablingTest, CaptionsDoNotFollowTheirKnobs)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);
        ASSERT_FALSE (knob (editor, "figure").isEnabled());

        for (auto* child : editor.getChildren())
        {
            if (dynamic_cast<OrvelRotaryLabel*> (child) != nullptr)
            {
                EXPECT_TRUE (child->isEnabled()) << child->getName();
            }
        }
    }

    TEST (KnobEnablingTest, ChangesFromAnotherThreadAreAppliedOnTheMessageThread)
    {
        QuilloAudioProcessor processor;
        auto editor = std::make_unique<QuilloAudioProcessorEditor> (processor);

        std::thread automation ([&] { setParameter (processor, "sync", 1.0f); setParameter (processor, "waveform", 2.0f); });
        automation.join();

        // Not touched from the other thread...
        EXPECT_EQ (disabledKnobs (*editor), "figure limit smoothing");
        dispatchPendingMessages();
        // ...but brought over.
        EXPECT_EQ (disabledKnobs (*editor), "limit rate");

        // A hand-over still queued when the editor closes is dropped.
        std::thread late ([&] { setParameter (processor, "sync", 0.0f); });
        late.join();
        editor.reset();
        dispatchPendingMessages();
    }

    TEST (KnobEnablingTest, ClosedEditorIsNoLongerCalled)
    {
        QuilloAudioProcessor processor;
        auto closing = std::make_unique<QuilloAudioProcessorEditor> (processor);
        QuilloAudioProcessorEditor staying (processor);
        closing.reset();

        // Were the closed editor still registered, these would reach freed memory.
        setParameter (processor, "sync", 1.0f);
        setParameter (processor, "waveform", 1.0f);
        EXPECT_EQ (disabledKnobs (staying), "rate");

        // The next editor starts again from the targets.
        QuilloAudioProcessorEditor next (processor);
        EXPECT_EQ (disabledKnobs (next), "rate");
    }
}
