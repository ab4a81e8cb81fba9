#include "EditorTestSupport.h"

#include <gtest/gtest.h>

namespace
{
    using namespace editor_testing;

    const juce::StringArray bottomIds { "dry", "wet", "waveform", "smoothing", "offsetl", "offsetr" };
    const juce::StringArray middleIds { "depth", "rate", "figure", "sync", "limit" };

    struct EditorTest : public ::testing::Test
    {
        QuilloAudioProcessor processor;
        std::unique_ptr<juce::AudioProcessorEditor> editor { processor.createEditor() };

        OrvelRotaryLabel* captionOf (juce::Slider& slider) const
        {
            for (auto* child : editor->getChildren())
                if (auto* caption = dynamic_cast<OrvelRotaryLabel*> (child))
                    if (caption->getAttachedComponent() == &slider)
                        return caption;

            return nullptr;
        }

        /** Types into a knob's value box the way a user does, and presses return. */
        void type (const juce::String& id, const juce::String& text)
        {
            typeInto (knob (*editor, id), text);
        }
    };

    TEST_F (EditorTest, LayoutAtTheFixedSize)
    {
        ASSERT_NE (dynamic_cast<QuilloAudioProcessorEditor*> (editor.get()), nullptr);
        EXPECT_TRUE (processor.hasEditor());
        EXPECT_EQ (editor->getBounds(), juce::Rectangle<int> (0, 0, 400, 255));
        EXPECT_FALSE (editor->isResizable());

        // Back to front: the panels, then each caption below its knob.
        ASSERT_EQ (editor->getNumChildComponents(), 3 + 2 * 11);
        const auto* middleBox = editor->getChildComponent (0);
        const auto* bottomBox = editor->getChildComponent (1);
        const auto* topBox = editor->getChildComponent (2);
        EXPECT_EQ (topBox->getBounds(), juce::Rectangle<int> (2, 2, 396, 82));
        EXPECT_EQ (middleBox->getBounds(), juce::Rectangle<int> (2, 86, 396, 83));
        EXPECT_EQ (bottomBox->getBounds(), juce::Rectangle<int> (2, 171, 396, 82));
        EXPECT_EQ (middleBox->getNumChildComponents(), 0);
        EXPECT_EQ (bottomBox->getNumChildComponents(), 0);

        auto* display = findDisplay (*editor);
        ASSERT_NE (display, nullptr);
        EXPECT_EQ (display->getParentComponent(), topBox);
        EXPECT_EQ (display->getBounds() + topBox->getPosition(), juce::Rectangle<int> (7, 7, 386, 72));
        EXPECT_TRUE (display->isOpaque());
        EXPECT_EQ (static_cast<const OrvelBox*> (topBox)->colour, juce::Colour (0xff1e1e1e));
        EXPECT_EQ (static_cast<const OrvelBox*> (middleBox)->colour, juce::Colour (0xff414141));

        const auto allIds = juce::StringArray (bottomIds).joinIntoString (",") + "," + middleIds.joinIntoString (",");
        const auto ids = juce::StringArray::fromTokens (allIds, ",", {});

        for (int i = 0; i < ids.size(); ++i)
        {
            SCOPED_TRACE (ids[i]);
            auto* caption = editor->getChildComponent (3 + 2 * i);
            auto* slider = editor->getChildComponent (4 + 2 * i);
            EXPECT_EQ (slider->getComponentID(), ids[i]);
            EXPECT_EQ (dynamic_cast<OrvelRotaryLabel*> (caption)->getAttachedComponent(), slider);
        }

        for (int i = 0; i < middleIds.size(); ++i)
            EXPECT_EQ (knob (*editor, middleIds[i]).getBounds(), juce::Rectangle<int> (7 + 77 * i, 96, 77, 73)) << middleIds[i];

        for (int i = 0; i < bottomIds.size(); ++i)
            EXPECT_EQ (knob (*editor, bottomIds[i]).getBounds(), juce::Rectangle<int> (7 + 64 * i, 181, 64, 72)) << bottomIds[i];

        EXPECT_EQ (captionOf (knob (*editor, "depth"))->getBounds(), juce::Rectangle<int> (7, 88, 77, 18));

        // The editor's own grey shows in the gaps between the panels.
        const auto image = render (*editor);

        for (const auto& gap : { juce::Point<int> (200, 0), juce::Point<int> (200, 85), juce::Point<int> (200, 170),
                                 juce::Point<int> (200, 254), juce::Point<int> (0, 120), juce::Point<int> (399, 120) })
            EXPECT_EQ (image.getPixelAt (gap.x, gap.y), juce::Colour (0xff555555)) << gap.toString();
    }

    TEST_F (EditorTest, EveryParameterGetsTheSameRotaryKnob)
    {
        const auto ids = juce::StringArray::fromTokens (bottomIds.joinIntoString (",") + "," + middleIds.joinIntoString (","), ",", {});

        for (const auto& id : ids)
        {
            SCOPED_TRACE (id);
            auto& slider = knob (*editor, id);
            auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);
            EXPECT_EQ (slider.getSliderStyle(), juce::Slider::Rotary);
            EXPECT_EQ (slider.getRotaryParameters().startAngleRadians, 3.9123890f);
            EXPECT_EQ (slider.getRotaryParameters().endAngleRadians, 8.6539812f);
            EXPECT_TRUE (slider.getRotaryParameters().stopAtEnd);
            EXPECT_EQ (slider.getTextBoxPosition(), juce::Slider::TextBoxBelow);
            EXPECT_TRUE (slider.isTextBoxEditable());
            EXPECT_EQ (slider.getTextBoxWidth(), 55);
            EXPECT_EQ (slider.getTextBoxHeight(), 25);
            EXPECT_EQ (slider.getTextValueSuffix(), "");
            EXPECT_EQ (slider.getName(), parameter->getName (100));
            EXPECT_EQ (&slider.getLookAndFeel(), &captionOf (slider)->getLookAndFeel());
            EXPECT_NE (dynamic_cast<OrvelLookAndFeel*> (&slider.getLookAndFeel()), nullptr);

            auto* caption = captionOf (slider);
            ASSERT_NE (caption, nullptr);
            EXPECT_EQ (caption->getText(), parameter->getName (100));
            EXPECT_EQ (caption->getJustificationType().getFlags(), juce::Justification::horizontallyCentred);
            EXPECT_EQ (slider.getRange(), juce::Range<double> (parameter->getNormalisableRange().start,
                                                               parameter->getNormalisableRange().end));
        }

        EXPECT_EQ (captionOf (knob (*editor, "offsetl"))->getText(), "Offset L");
        EXPECT_EQ (captionOf (knob (*editor, "offsetr"))->getText(), "Offset R");

        // Choice and toggle knobs show their parameters' texts.
        EXPECT_EQ (knob (*editor, "waveform").getTextFromValue (knob (*editor, "waveform").getValue()), "Sine");
        EXPECT_EQ (knob (*editor, "figure").getTextFromValue (knob (*editor, "figure").getValue()), "1/2");
        EXPECT_EQ (knob (*editor, "sync").getTextFromValue (knob (*editor, "sync").getValue()), "False");
    }

    TEST_F (EditorTest, NoNegativeSizesWhenSqueezed)
    {
        for (const auto size : { juce::Point<int> (0, 0), juce::Point<int> (3, 3), juce::Point<int> (20, 90),
                                 juce::Point<int> (400, 10), juce::Point<int> (10, 400), juce::Point<int> (60, 84),
                                 juce::Point<int> (1, 86), juce::Point<int> (4000, 3000) })
        {
            editor->setSize (size.x, size.y);

            std::function<void (juce::Component&)> check = [&] (juce::Component& parent) {
                for (auto* child : parent.getChildren())
                {
                    if (dynamic_cast<juce::Slider*> (&parent) != nullptr)
                        continue;   // the knobs' own insides are the framework's

                    EXPECT_GE (child->getWidth(), 0) << size.toString() << " " << child->getName();
                    EXPECT_GE (child->getHeight(), 0) << size.toString() << " " << child->getName();
                    check (*child);
                }
            };

            check (*editor);
            render (*editor);   // paints at that size without trouble
        }
    }

    TEST_F (EditorTest, KnobsFollowARestoredState)
    {
        QuilloAudioProcessor other;
        setParameter (other, "depth", 0.8f);
        setParameter (other, "waveform", 2.0f);
        setParameter (other, "sync", 1.0f);
        setParameter (other, "offsetr", 0.25f);
        juce::MemoryBlock blob;
        other.getStateInformation (blob);

        processor.setStateInformation (blob.getData(), (int) blob.getSize());

        EXPECT_FLOAT_EQ ((float) knob (*editor, "depth").getValue(), 0.8f);
        EXPECT_FLOAT_EQ ((float) knob (*editor, "waveform").getValue(), 2.0f);
        EXPECT_FLOAT_EQ ((float) knob (*editor, "offsetr").getValue(), 0.25f);
        EXPECT_FLOAT_EQ ((float) knob (*editor, "dry").getValue(), 0.0f);
        EXPECT_TRUE (knob (*editor, "figure").isEnabled());
        EXPECT_FALSE (knob (*editor, "rate").isEnabled());
        EXPECT_TRUE (knob (*editor, "smoothing").isEnabled());
        EXPECT_FALSE (knob (*editor, "limit").isEnabled());
    }

    TEST_F (EditorTest, TypedTextReachesTheParameterThroughItsTextForm)
    {
        type ("depth", "0.25");
        EXPECT_FLOAT_EQ (parameterValue (processor, "depth"), 0.25f);
        EXPECT_FLOAT_EQ (processor.depthParameter.getTargetValue(), 0.25f);

        type ("waveform", "Square");
        EXPECT_FLOAT_EQ (parameterValue (processor, "waveform"), 1.0f);
        EXPECT_TRUE (knob (*editor, "limit").isEnabled());

        type ("sync", "True");
        EXPECT_FLOAT_EQ (parameterValue (processor, "sync"), 1.0f);
        EXPECT_FALSE (knob (*editor, "rate").isEnabled());

        // Out of range is held to the range.
        type ("rate", "42");
        EXPECT_FLOAT_EQ (parameterValue (processor, "rate"), 10.0f);

        type ("depth", "not a number");
        EXPECT_TRUE (std::isfinite (parameterValue (processor, "depth")));
        EXPECT_TRUE (std::isfinite (processor.depthParameter.getTargetValue()));
    }

    TEST_F (EditorTest, DoubleClickReturnsToTheDefault)
    {
        auto& slider = knob (*editor, "limit");
        setParameter (processor, "waveform", 1.0f);   // "Limit" is enabled only for Square
        slider.setValue (0.9, juce::sendNotificationSync);
        EXPECT_FLOAT_EQ (parameterValue (processor, "limit"), 0.9f);

        auto source = juce::Desktop::getInstance().getMainMouseSource();
        const auto now = juce::Time::getCurrentTime();
        const juce::MouseEvent doubleClick (source, { 38.0f, 30.0f }, juce::ModifierKeys(), 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,
                                            &slider, &slider, now, { 38.0f, 30.0f }, now, 2, false);
        slider.mouseDoubleClick (doubleClick);

        EXPECT_FLOAT_EQ (parameterValue (processor, "limit"), 0.5f);
        EXPECT_FLOAT_EQ ((float) slider.getValue(), 0.5f);
    }

    TEST_F (EditorTest, ClosingLeavesTheParametersAndANewEditorShowsThem)
    {
        knob (*editor, "wet").setValue (0.3, juce::sendNotificationSync);
        knob (*editor, "figure").setValue (3.0, juce::sendNotificationSync);
        editor.reset();

        EXPECT_FLOAT_EQ (parameterValue (processor, "wet"), 0.3f);
        EXPECT_FLOAT_EQ (parameterValue (processor, "figure"), 3.0f);

        std::unique_ptr<juce::AudioProcessorEditor> first (processor.createEditor());
        std::unique_ptr<juce::AudioProcessorEditor> second (processor.createEditor());
        EXPECT_NE (first.get(), second.get());
        EXPECT_FLOAT_EQ ((float) knob (*second, "wet").getValue(), 0.3f);
        EXPECT_EQ (knob (*second, "figure").getTextFromValue (knob (*second, "figure").getValue()), "1/16");
    }
}
