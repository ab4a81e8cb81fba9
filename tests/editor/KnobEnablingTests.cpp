#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
    using namespace editor_testing;

    /** Ids of the disabled knobs, sorted, joined with spaces. */
    juce::String disabledKnobs (juce::Component& editor)
    {
        juce::StringArray disabled;

        for (const auto& id : parameterIds)
            if (! knob (editor, id).isEnabled())
                disabled.add (id);

        disabled.sort (false);
        return disabled.joinIntoString (" ");
    }

    /** One change of a parameter and the knobs that are disabled after it. */
    struct Step
    {
        const char* id;
        float value;
        const char* disabled;
    };

    TEST (KnobEnablingTest, NewEditorStartsFromTheCurrentTargets)
    {
        struct Case
        {
            float sync, waveform;
            const char* disabled;
        };
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

        const Step steps[] {
            { "waveform", 2.0f, "figure limit" },
            { "waveform", 3.0f, "figure limit smoothing" },
            { "waveform", 1.0f, "figure" },
            { "sync", 1.0f, "rate" },
            { "depth", 0.9f, "rate" },   // other parameters change nothing
            { "rate", 3.0f, "rate" },
            { "sync", 0.0f, "figure" },
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

        const Step calls[] {
            { "waveform", 1.9f, "figure" },                    // truncated, not rounded: Square
            { "waveform", 2.99f, "figure limit" },             // Saw
            { "waveform", -0.5f, "figure limit smoothing" },   // truncates to 0: Sine
            { "waveform", 1.0f, "figure" },
            { "waveform", -1.0f, "figure limit smoothing" },
            { "waveform", 1.0f, "figure" },
            { "waveform", 4.0f, "figure limit smoothing" },
            { "waveform", 1.0f, "figure" },
            { "waveform", 1.0e10f, "figure limit smoothing" },
            { "waveform", 1.0f, "figure" },
            { "waveform", std::numeric_limits<float>::quiet_NaN(), "figure limit smoothing" },
            { "sync", 0.5f, "limit rate smoothing" },   // anything but 0 is on
            { "sync", -1.0f, "limit rate smoothing" },
            { "sync", 0.0f, "figure limit smoothing" },
            { "Sync", 1.0f, "figure limit smoothing" },   // ids are case-sensitive
            { "depth", 1.0f, "figure limit smoothing" },
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

    void setOnAnotherThread (QuilloAudioProcessor& processor, const char* id, float value)
    {
        std::thread ([&] { setParameter (processor, id, value); }).join();
    }

    TEST (KnobEnablingTest, ChangesFromAnotherThreadReachTheKnobsOnTheMessageThread)
    {
        QuilloAudioProcessor processor;
        auto editor = std::make_unique<QuilloAudioProcessorEditor> (processor);

        setOnAnotherThread (processor, "sync", 1.0f);
        setOnAnotherThread (processor, "waveform", 2.0f);

        // Not touched from the other thread...
        EXPECT_EQ (disabledKnobs (*editor), "figure limit smoothing");
        // ...but brought over.
        EXPECT_TRUE (runMessageLoopUntil ([&] { return disabledKnobs (*editor) == "limit rate"; }))
            << disabledKnobs (*editor);

        // A change still pending when the editor closes is dropped with it.
        setOnAnotherThread (processor, "sync", 0.0f);
        editor.reset();
        dispatchPendingMessages();
    }

    TEST (KnobEnablingTest, TheLatestValueWinsWhateverThreadSetIt)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);

        setOnAnotherThread (processor, "sync", 1.0f);
        setParameter (processor, "sync", 0.0f);   // on the message thread: applied at once
        EXPECT_EQ (disabledKnobs (editor), "figure limit smoothing");

        setOnAnotherThread (processor, "waveform", 2.0f);
        setOnAnotherThread (processor, "waveform", 1.0f);
        setOnAnotherThread (processor, "waveform", 3.0f);

        // Once the last waveform shows, whatever was handed over earlier has
        // been dealt with: "Sync" stays off, and only Triangle counts.
        const auto delivered = runMessageLoopUntil ([&] { return disabledKnobs (editor) != "figure limit smoothing"; }, 30);
        EXPECT_FALSE (delivered) << disabledKnobs (editor);

        setOnAnotherThread (processor, "waveform", 2.0f);
        EXPECT_TRUE (runMessageLoopUntil ([&] { return knob (editor, "smoothing").isEnabled(); }));
        EXPECT_EQ (disabledKnobs (editor), "figure limit");
    }

    TEST (KnobEnablingTest, AClosedEditorIsNoLongerAListener)
    {
        // A closed editor that stayed registered would be called through a
        // dangling pointer. To see that without a crash, the editor is built in
        // storage that the test keeps, and a second editor, on another
        // processor, is built in the same place after the first is gone: a
        // stale registration would then call the second editor, which shows it
        // by enabling its knobs.
        struct alignas (QuilloAudioProcessorEditor) Storage
        {
            unsigned char bytes[sizeof (QuilloAudioProcessorEditor)];
        };
        auto storage = std::make_unique<Storage>();

        QuilloAudioProcessor closedOn, other;
        auto* closing = new (storage.get()) QuilloAudioProcessorEditor (closedOn);
        closing->~QuilloAudioProcessorEditor();

        auto* inItsPlace = new (storage.get()) QuilloAudioProcessorEditor (other);
        ASSERT_EQ (disabledKnobs (*inItsPlace), "figure limit smoothing");

        setParameter (closedOn, "sync", 1.0f);
        EXPECT_EQ (disabledKnobs (*inItsPlace), "figure limit smoothing") << "still listening to sync";
        setParameter (closedOn, "waveform", 1.0f);
        EXPECT_EQ (disabledKnobs (*inItsPlace), "figure limit smoothing") << "still listening to waveform";

        // The other processor's own changes do reach it.
        setParameter (other, "waveform", 2.0f);
        EXPECT_EQ (disabledKnobs (*inItsPlace), "figure limit");
        inItsPlace->~QuilloAudioProcessorEditor();

        // A new editor starts again from the targets.
        QuilloAudioProcessorEditor next (closedOn);
        EXPECT_EQ (disabledKnobs (next), "rate");
    }
}
