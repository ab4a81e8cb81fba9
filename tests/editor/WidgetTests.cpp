#include "EditorTestSupport.h"

#include <gtest/gtest.h>

namespace
{
    //==============================================================================
    TEST (OrvelBoxTest, ContentFillsThePanelLessTheTruncatedMargin)
    {
        struct Case
        {
            int width, height;
            float margin;
            juce::Rectangle<int> expected;
        };
        const Case cases[] {
            { 396, 82, 5.0f, { 5, 5, 386, 72 } },
            { 100, 50, 5.9f, { 5, 5, 90, 40 } },   // truncated, not rounded
            { 8, 30, 5.0f, { 5, 5, 0, 20 } },      // narrower than twice the margin
            { 30, 3, 5.0f, { 5, 5, 20, 0 } },
            { 0, 0, 0.0f, { 0, 0, 0, 0 } },
        };

        for (const auto& c : cases)
        {
            OrvelBox box;
            juce::Component content;
            box.contentMargin = c.margin;
            box.setContent (&content);
            box.setSize (c.width, c.height);
            EXPECT_EQ (content.getBounds(), c.expected) << c.width << "x" << c.height << " margin " << c.margin;
        }
    }

    TEST (OrvelBoxTest, SetContentReplacesWithoutDeleting)
    {
        OrvelBox box;
        juce::Component first, second, other;

        box.setContent (&first);
        EXPECT_EQ (first.getParentComponent(), &box);
        EXPECT_TRUE (first.isVisible());

        box.addAndMakeVisible (other);
        box.setContent (&second);
        EXPECT_EQ (first.getParentComponent(), nullptr);
        EXPECT_EQ (box.getChildComponent (box.getNumChildComponents() - 1), &second);
        EXPECT_TRUE (second.isVisible());

        // Setting it again keeps it a visible child, brought to the top.
        box.addAndMakeVisible (first);
        box.setContent (&second);
        EXPECT_EQ (box.getChildComponent (box.getNumChildComponents() - 1), &second);
        EXPECT_EQ (box.getNumChildComponents(), 3);

        // Layout is left to the next resized().
        EXPECT_TRUE (second.getBounds().isEmpty());
        box.setSize (50, 40);
        EXPECT_EQ (second.getBounds(), juce::Rectangle<int> (5, 5, 40, 30));

        box.setContent (nullptr);
        EXPECT_EQ (second.getParentComponent(), nullptr);
        box.setSize (60, 40);
        EXPECT_EQ (second.getBounds(), juce::Rectangle<int> (5, 5, 40, 30));
    }

    TEST (OrvelBoxTest, ForgetsAContentDestroyedBeforeIt)
    {
        OrvelBox box;
        auto content = std::make_unique<juce::Component>();
        box.setContent (content.get());
        content.reset();

        EXPECT_EQ (box.content, nullptr);
        box.setSize (50, 40);   // must not lay out a dead component
        juce::Component next;
        box.setContent (&next);   // nor remove one
        EXPECT_EQ (next.getParentComponent(), &box);
    }

    /** Where a red panel's fill shows, under its black shadow. */
    bool isFilled (const juce::Image& image, int x, int y) { return image.getPixelAt (x, y).getRed() > 0x40; }

    TEST (OrvelBoxTest, PaintsARoundedRectangleInsetByTheTruncatedInset)
    {
        struct Case
        {
            float inset;
            int firstFilledColumn;
        };
        const Case cases[] { { 0.0f, 0 }, { 2.9f, 2 }, { 20.0f, -1 }, { 35.0f, -1 } };

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.inset);
            OrvelBox box;
            box.colour = juce::Colour (0xffff0000);
            box.paintInset = c.inset;
            box.setSize (40, 30);
            const auto image = editor_testing::render (box);

            int firstFilled = -1;

            for (int x = 0; x < 40 && firstFilled < 0; ++x)
                if (isFilled (image, x, 15))
                    firstFilled = x;

            EXPECT_EQ (firstFilled, c.firstFilledColumn);

            if (c.firstFilledColumn >= 0)
            {
                // The shadow lies over the fill, so it darkens the inside too.
                EXPECT_NEAR (image.getPixelAt (20, 15).getRed(),
                             juce::Colour (0xffff0000).overlaidWith (juce::Colour (0x4c000000)).getRed(), 2);
                // Rounded corners: the very corner pixel of the rectangle is not fully red.
                EXPECT_LT (image.getPixelAt (c.firstFilledColumn, c.firstFilledColumn).getRed(),
                           image.getPixelAt (c.firstFilledColumn, 15).getRed());
            }
        }

        // Without content, in the default colour.
        OrvelBox plain;
        plain.setSize (40, 30);
        const auto expected = juce::Colour (0xff414141).overlaidWith (juce::Colour (0x4c000000));
        const auto actual = editor_testing::render (plain).getPixelAt (20, 15);
        EXPECT_NEAR (actual.getRed(), expected.getRed(), 2);
        EXPECT_NEAR (actual.getBlue(), expected.getBlue(), 2);
        EXPECT_EQ (actual.getAlpha(), 0xff);
    }

    //==============================================================================
    struct FontLookAndFeel : public juce::LookAndFeel_V4
    {
        explicit FontLookAndFeel (float h) : height (h) {}
        juce::Font getLabelFont (juce::Label&) override { return juce::Font (height); }
        float height;
    };

    TEST (OrvelRotaryLabelTest, SitsOverTheTopOfItsKnobAndFollowsIt)
    {
        OrvelLookAndFeel lookAndFeel;

        for (const auto onLeft : { true, false })
        {
            SCOPED_TRACE (onLeft ? "left of owner" : "above owner");
            juce::Component parent, knob;
            OrvelRotaryLabel caption ("Depth", "Depth");
            caption.setLookAndFeel (&lookAndFeel);
            parent.addAndMakeVisible (knob);
            parent.addAndMakeVisible (caption);

            knob.setBounds (7, 96, 77, 73);
            caption.attachToComponent (&knob, onLeft);
            EXPECT_EQ (caption.getBounds(), juce::Rectangle<int> (7, 88, 77, 18));

            knob.setBounds (30, 40, 50, 60);
            EXPECT_EQ (caption.getBounds(), juce::Rectangle<int> (30, 32, 50, 18));

            caption.setText ("A much longer caption text", juce::dontSendNotification);
            EXPECT_EQ (caption.getBounds(), juce::Rectangle<int> (30, 32, 50, 18));

            caption.setLookAndFeel (nullptr);
        }
    }

    TEST (OrvelRotaryLabelTest, HeightFollowsTheLookAndFeelsFont)
    {
        // round-half-even: 11.5 gives 12, 15.5 gives 16, 10.5 gives 10
        struct Case
        {
            float fontHeight;
            int expectedHeight;
        };
        const Case cases[] { { 10.0f, 18 }, { 11.0f, 20 }, { 15.0f, 24 } };

        for (const auto& c : cases)
        {
            FontLookAndFeel lookAndFeel (c.fontHeight);
            juce::Component parent, knob;
            OrvelRotaryLabel caption;
            caption.setLookAndFeel (&lookAndFeel);
            parent.addAndMakeVisible (knob);
            parent.addAndMakeVisible (caption);
            knob.setBounds (10, 50, 40, 40);
            caption.attachToComponent (&knob, false);

            EXPECT_EQ (caption.getBounds(), juce::Rectangle<int> (10, 60 - c.expectedHeight, 40, c.expectedHeight))
                << "font " << c.fontHeight;
            caption.setLookAndFeel (nullptr);
        }
    }

    TEST (OrvelRotaryLabelTest, UnattachedCaptionKeepsItsBounds)
    {
        OrvelRotaryLabel caption ("name", "text");
        EXPECT_EQ (caption.getName(), "name");
        EXPECT_EQ (caption.getText(), "text");
        caption.setBounds (1, 2, 3, 4);
        caption.setText ("other", juce::dontSendNotification);
        EXPECT_EQ (caption.getBounds(), juce::Rectangle<int> (1, 2, 3, 4));
    }
}
