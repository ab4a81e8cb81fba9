#include "EditorTestSupport.h"

#include <gtest/gtest.h>

namespace
{
    using juce::Slider;

    /** A further subclass with its own thumb radius: the layout must use it. */
    struct IndentedLookAndFeel : public OrvelLookAndFeel
    {
        int getSliderThumbRadius (Slider&) override { return 7; }
    };

    struct LayoutCase
    {
        const char* what;
        Slider::SliderStyle style;
        Slider::TextEntryBoxPosition position;
        int textBoxWidth, textBoxHeight, width, height;
        juce::Rectangle<int> valueBox, dialArea;
    };

    const LayoutCase layoutCases[] {
        { "middle-row knob", Slider::Rotary, Slider::TextBoxBelow, 55, 25, 77, 73, { 11, 58, 55, 10 }, { 0, 0, 77, 63 } },
        { "bottom-row knob", Slider::Rotary, Slider::TextBoxBelow, 55, 25, 64, 72, { 4, 57, 55, 10 }, { 0, 0, 64, 62 } },
        { "box height ignored", Slider::Rotary, Slider::TextBoxBelow, 55, 3, 77, 73, { 11, 58, 55, 10 }, { 0, 0, 77, 63 } },
        { "box wider than knob", Slider::Rotary, Slider::TextBoxBelow, 55, 25, 40, 73, { -7, 58, 55, 10 }, { 0, 0, 40, 63 } },
        { "box above", Slider::Rotary, Slider::TextBoxAbove, 55, 25, 40, 73, { -7, 0, 55, 10 }, { 0, 10, 40, 63 } },
        { "box left, knob 5 high", Slider::Rotary, Slider::TextBoxLeft, 20, 20, 50, 5, { 0, -2, 20, 10 }, { 20, 0, 30, 5 } },
        { "box right", Slider::Rotary, Slider::TextBoxRight, 20, 20, 50, 30, { 30, 10, 20, 10 }, { 0, 0, 30, 30 } },
        { "left cut clamped", Slider::Rotary, Slider::TextBoxLeft, 80, 20, 50, 30, { 0, 10, 80, 10 }, { 50, 0, 0, 30 } },
        { "below cut clamped", Slider::Rotary, Slider::TextBoxBelow, 20, 20, 50, 6, { 15, -9, 20, 10 }, { 0, 0, 50, 0 } },
        { "no box", Slider::Rotary, Slider::NoTextBox, 55, 25, 77, 73, {}, { 0, 0, 77, 73 } },
        { "horizontal, indented", Slider::LinearHorizontal, Slider::NoTextBox, 55, 25, 100, 20, {}, { 7, 0, 86, 20 } },
        { "horizontal, indent > w", Slider::LinearHorizontal, Slider::NoTextBox, 55, 25, 10, 20, {}, { 7, 0, 0, 20 } },
        { "two-value horizontal", Slider::TwoValueHorizontal, Slider::TextBoxRight, 20, 20, 100, 20, { 80, 5, 20, 10 }, { 7, 0, 66, 20 } },
        { "vertical, indented", Slider::LinearVertical, Slider::TextBoxBelow, 20, 20, 20, 100, { 0, 85, 20, 10 }, { 0, 7, 20, 76 } },
        { "bar with box", Slider::LinearBar, Slider::TextBoxBelow, 55, 25, 100, 20, { 0, 0, 100, 20 }, { 1, 1, 98, 18 } },
        { "vertical bar, no box", Slider::LinearBarVertical, Slider::NoTextBox, 55, 25, 1, 20, {}, { 1, 1, 0, 18 } },
        { "inc-dec, no indent", Slider::IncDecButtons, Slider::TextBoxLeft, 30, 20, 80, 20, { 0, 5, 30, 10 }, { 30, 0, 50, 20 } },
    };

    TEST (OrvelLookAndFeelTest, SliderLayoutPlacesTheValueBoxAndDialArea)
    {
        IndentedLookAndFeel lookAndFeel;

        for (const auto& c : layoutCases)
        {
            SCOPED_TRACE (c.what);
            Slider slider (c.style, c.position);
            slider.setTextBoxStyle (c.position, false, c.textBoxWidth, c.textBoxHeight);
            slider.setSize (c.width, c.height);

            const auto layout = lookAndFeel.getSliderLayout (slider);
            EXPECT_EQ (layout.textBoxBounds, c.valueBox);
            EXPECT_EQ (layout.sliderBounds, c.dialArea);
        }
    }

    TEST (OrvelLookAndFeelTest, DialGeometry)
    {
        const auto topOfDial = OrvelLookAndFeel::getDialGeometry (0, 0, 77, 63, 0.0f);
        EXPECT_EQ (topOfDial.centre, juce::Point<float> (38.5f, 31.5f));
        EXPECT_FLOAT_EQ (topOfDial.radius, 20.5f);
        EXPECT_NEAR (topOfDial.thumbArea().getX(), 34.5f, 1.0e-5f);
        EXPECT_NEAR (topOfDial.thumbArea().getY(), 7.0f, 1.0e-5f);
        EXPECT_EQ (topOfDial.thumbArea().getWidth(), 8.0f);
        EXPECT_EQ (topOfDial.thumbArea().getHeight(), 8.0f);

        // Angles grow clockwise: a quarter turn puts the thumb right of the centre.
        const auto quarterTurn = OrvelLookAndFeel::getDialGeometry (0, 0, 77, 63, 1.5707964f);
        EXPECT_NEAR (quarterTurn.thumbCentre.x, 59.0f, 1.0e-5f);
        EXPECT_NEAR (quarterTurn.thumbCentre.y, 31.5f, 1.0e-5f);

        const auto bottomRow = OrvelLookAndFeel::getDialGeometry (0, 0, 64, 62, 0.0f);
        EXPECT_EQ (bottomRow.centre, juce::Point<float> (32.0f, 31.0f));
        EXPECT_FLOAT_EQ (bottomRow.radius, 20.0f);

        const auto offset = OrvelLookAndFeel::getDialGeometry (100, 50, 77, 63, 0.0f);
        EXPECT_EQ (offset.centre, juce::Point<float> (138.5f, 81.5f));

        // Too small for a dial: the radius stays 0, so the thumb cannot flip to
        // the opposite side of the centre.
        const auto tiny = OrvelLookAndFeel::getDialGeometry (0, 0, 20, 15, 1.5707964f);
        EXPECT_EQ (tiny.centre, juce::Point<float> (10.0f, 10.0f));
        EXPECT_EQ (tiny.radius, 0.0f);
        EXPECT_EQ (tiny.thumbCentre, tiny.centre);
    }

    bool near (juce::Colour actual, juce::Colour expected, int tolerance = 2)
    {
        return testing_support::channelDifference (actual, expected) <= tolerance;
    }

    TEST (OrvelLookAndFeelTest, KnobDrawsArcsAndThumbWhereTheGeometrySays)
    {
        OrvelLookAndFeel lookAndFeel;
        const juce::Colour fill (0xff6dd6ff), outline (0xff000000), thumb (0xffffffff);

        // The editor's knob: half way is 12 o'clock, the dial area is (0, 0, 77, 63).
        Slider slider (Slider::Rotary, Slider::TextBoxBelow);
        slider.setLookAndFeel (&lookAndFeel);
        slider.setTextBoxStyle (Slider::TextBoxBelow, false, 55, 25);
        slider.setRotaryParameters (3.9123890f, 8.6539812f, true);
        slider.setRange (0.0, 1.0);
        slider.setValue (0.5);
        slider.setSize (77, 73);

        juce::Component parent;
        parent.addAndMakeVisible (slider);

        for (const auto enabled : { true, false })
        {
            SCOPED_TRACE (enabled ? "enabled" : "parent disabled");
            parent.setEnabled (enabled);
            const auto image = editor_testing::render (slider);

            EXPECT_TRUE (near (image.getPixelAt (38, 10), thumb));                         // the dot at 12 o'clock
            EXPECT_TRUE (near (image.getPixelAt (59, 31), outline, 8));                    // 3 o'clock: background arc only
            EXPECT_TRUE (near (image.getPixelAt (18, 31), enabled ? fill : outline, 8));   // 9 o'clock: value arc when enabled
            EXPECT_EQ (image.getPixelAt (38, 31).getAlpha(), 0);                           // nothing at the centre
        }

        slider.setLookAndFeel (nullptr);
    }

    TEST (OrvelLookAndFeelTest, LabelsUseOneSmallPlainFont)
    {
        OrvelLookAndFeel lookAndFeel;
        juce::Label label ("caption", "Depth");
        label.setLookAndFeel (&lookAndFeel);
        label.setFont (juce::Font (20.0f, juce::Font::bold));
        label.setSize (80, 30);

        const auto font = lookAndFeel.getLabelFont (label);
        EXPECT_EQ (font.getHeight(), 10.0f);
        EXPECT_EQ (font.getStyleFlags(), juce::Font::plain);
        EXPECT_EQ (font.getTypefaceName(), juce::Font::getDefaultSansSerifFontName());

        // Editing uses it too, whatever font the label itself was given.
        label.showEditor();
        ASSERT_NE (label.getCurrentTextEditor(), nullptr);
        EXPECT_EQ (label.getCurrentTextEditor()->getFont().getHeight(), 10.0f);
        EXPECT_FALSE (label.getCurrentTextEditor()->getFont().isBold());
        label.hideEditor (true);

        label.setLookAndFeel (nullptr);
    }

    TEST (OrvelLookAndFeelTest, ButtonBackgroundColourRule)
    {
        OrvelLookAndFeel lookAndFeel;
        const juce::Colour base (0xff3366aa);
        const juce::Colour outline (0xffff00ff);

        struct Case
        {
            const char* what;
            bool enabled, highlighted, down, connectedLeft;
            juce::Colour expected;
        };
        const Case cases[] {
            { "plain", true, false, false, false, base.withMultipliedSaturation (0.9f) },
            { "disabled", false, false, false, false, base.withMultipliedSaturation (0.9f).withMultipliedAlpha (0.5f) },
            { "highlighted", true, true, false, false, base.withMultipliedSaturation (0.9f).contrasting (0.05f) },
            { "down beats highlight", true, true, true, false, base.withMultipliedSaturation (0.9f).contrasting (0.2f) },
            { "connected on left", true, false, true, true, base.withMultipliedSaturation (0.9f).contrasting (0.2f) },
        };

        EXPECT_EQ (base.withMultipliedSaturation (0.9f).withMultipliedAlpha (0.5f).getAlpha(), 0x80);

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.what);
            juce::TextButton button;
            button.setSize (40, 20);
            button.setEnabled (c.enabled);
            button.setColour (juce::ComboBox::outlineColourId, outline);
            button.setConnectedEdges (c.connectedLeft ? juce::Button::ConnectedOnLeft : 0);

            juce::Image image (juce::Image::ARGB, 40, 20, true);
            {
                juce::Graphics g (image);
                lookAndFeel.drawButtonBackground (g, button, base, c.highlighted, c.down);
            }

            EXPECT_TRUE (near (image.getPixelAt (20, 10), c.expected));
            // A 1-pixel square-cornered outline: even the corner pixel is outline.
            EXPECT_TRUE (near (image.getPixelAt (0, 0), outline, 40));
            EXPECT_TRUE (near (image.getPixelAt (39, 19), outline, 40));
        }
    }
}

namespace
{
    TEST (OrvelLookAndFeelTest, ColourSchemeAndColourSettings)
    {
        OrvelLookAndFeel lookAndFeel;
        using UI = juce::LookAndFeel_V4::ColourScheme::UIColour;

        struct SchemeColour
        {
            UI which;
            juce::uint32 argb;
        };
        const SchemeColour scheme[] {
            { UI::windowBackground, 0xff323e44 },
            { UI::widgetBackground, 0xff263238 },
            { UI::menuBackground, 0xff323e44 },
            { UI::outline, 0xffffffff },
            { UI::defaultText, 0xffffffff },
            { UI::defaultFill, 0xfff8f8ff },
            { UI::highlightedText, 0xffffffff },
            { UI::highlightedFill, 0xffffffff },
            { UI::menuText, 0xffffffff },
        };

        for (const auto& c : scheme)
            EXPECT_EQ (lookAndFeel.getCurrentColourScheme().getUIColour (c.which).getARGB(), c.argb) << (int) c.which;

        struct Setting
        {
            int id;
            juce::uint32 argb;
            const char* what;
        };
        const Setting settings[] {
            { juce::Slider::trackColourId, 0x19ffffff, "track" },
            { juce::Slider::rotarySliderFillColourId, 0xff6dd6ff, "value arc" },
            { juce::Slider::rotarySliderOutlineColourId, 0xff000000, "background arc" },
            { juce::Slider::textBoxOutlineColourId, 0x00000000, "value box outline" },
            { juce::Slider::thumbColourId, 0xffffffff, "thumb" },
            { juce::ScrollBar::thumbColourId, 0x7f000000, "scroll bar thumb" },
            { juce::ListBox::backgroundColourId, 0x00ffffff, "list box" },
            { juce::TextEditor::focusedOutlineColourId, 0x00000000, "value box outline while editing" },
            // One that the scheme derives, to show it still applies beneath the settings.
            { juce::Label::textColourId, 0xffffffff, "label text, from the scheme" },
        };

        for (const auto& s : settings)
            EXPECT_EQ (lookAndFeel.findColour (s.id).getARGB(), s.argb) << s.what;
    }

    TEST (OrvelLookAndFeelTest, ValueBoxShowsNoOutlineWhileEditing)
    {
        using namespace editor_testing;

        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);
        editor.addToDesktop (0);
        editor.setVisible (true);
        ASSERT_TRUE (runMessageLoopUntil ([&] { return editor.isShowing(); }, 1000));

        auto& depth = knob (editor, "depth");
        depth.showTextBox();
        juce::TextEditor* textEditor = nullptr;

        for (auto* child : depth.getChildren())
            if (auto* box = dynamic_cast<juce::Label*> (child))
                textEditor = box->getCurrentTextEditor();

        ASSERT_NE (textEditor, nullptr);

        // Typing needs the keyboard focus, and the window has it once the
        // X server has mapped it.
        ASSERT_TRUE (runMessageLoopUntil ([&] { textEditor->grabKeyboardFocus(); return textEditor->hasKeyboardFocus (true); }, 1000));
        textEditor->setCaretVisible (false);
        textEditor->setHighlightedRegion ({});

        // The box's left and right edges, in the editor's coordinates: only the
        // panel shows there, never the white of an outline.
        const auto box = editor.getLocalArea (textEditor, textEditor->getLocalBounds());
        ASSERT_EQ (box, juce::Rectangle<int> (18, 154, 55, 10));
        const auto image = render (editor);

        for (int y = box.getY(); y < box.getBottom(); ++y)
            for (const int x : { box.getX(), box.getX() + 1, box.getRight() - 2, box.getRight() - 1 })
                EXPECT_LT (image.getPixelAt (x, y).getBrightness(), 0.5f) << x << "," << y;

        textEditor->giveAwayKeyboardFocus();
    }
}
