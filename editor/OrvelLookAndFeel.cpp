#include "OrvelLookAndFeel.h"

#include <cmath>

namespace
{
    constexpr float dialMargin = 10.0f;
    constexpr float arcThickness = 2.0f;

    // The value box is always this high, whatever height the knob asks for.
    constexpr int valueBoxHeight = 10;

    juce::PathStrokeType arcStroke()
    {
        return { arcThickness, juce::PathStrokeType::curved, juce::PathStrokeType::butt };
    }

    bool isHorizontalStyle (juce::Slider::SliderStyle style) noexcept
    {
        return style == juce::Slider::LinearHorizontal
               || style == juce::Slider::TwoValueHorizontal
               || style == juce::Slider::ThreeValueHorizontal;
    }

    bool isVerticalStyle (juce::Slider::SliderStyle style) noexcept
    {
        return style == juce::Slider::LinearVertical
               || style == juce::Slider::TwoValueVertical
               || style == juce::Slider::ThreeValueVertical;
    }
}

//==============================================================================
OrvelLookAndFeel::OrvelLookAndFeel()
    : thumbShadows (juce::DropShadow (juce::Colour (0x4c000000), 10, { 0, 0 }), thumbShadowsKept)
{
    setColourScheme ({ 0xff323e44,                  // windowBackground
                       0xff263238,                  // widgetBackground
                       0xff323e44,                  // menuBackground
                       juce::Colours::white,        // outline
                       0xffffffff,                  // defaultText
                       juce::Colours::ghostwhite,   // defaultFill
                       0xffffffff,                  // highlightedText
                       juce::Colours::white,        // highlightedFill
                       0xffffffff });               // menuText

    // These overwrite what the scheme derived for the same ids, so they come after it.
    setColour (juce::Slider::trackColourId, juce::Colour (0x19ffffff));
    setColour (juce::Slider::rotarySliderFillColourId, juce::Colour (0xff6dd6ff));
    setColour (juce::Slider::rotarySliderOutlineColourId, juce::Colour (0xff000000));
    setColour (juce::Slider::textBoxOutlineColourId, juce::Colour (0x00000000));
    setColour (juce::Slider::thumbColourId, juce::Colours::white);
    setColour (juce::ScrollBar::thumbColourId, juce::Colour (0x7f000000));
    setColour (juce::ListBox::backgroundColourId, juce::Colours::transparentWhite);

    // While a value is typed, V4 outlines the value box's text editor 2 px wide
    // in this colour (the scheme's white). The box shows no outline then either.
    setColour (juce::TextEditor::focusedOutlineColourId, juce::Colour (0x00000000));
}

OrvelLookAndFeel::~OrvelLookAndFeel() = default;

//==============================================================================
void OrvelLookAndFeel::drawButtonBackground (juce::Graphics& g,
                                             juce::Button& button,
                                             const juce::Colour& backgroundColour,
                                             bool shouldDrawButtonAsHighlighted,
                                             bool shouldDrawButtonAsDown)
{
    auto colour = backgroundColour.withMultipliedSaturation (button.hasKeyboardFocus (true) ? 1.3f : 0.9f)
                      .withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f);

    if (shouldDrawButtonAsDown || shouldDrawButtonAsHighlighted)
        colour = colour.contrasting (shouldDrawButtonAsDown ? 0.2f : 0.05f);

    const auto local = button.getLocalBounds().toFloat();
    const juce::Rectangle<float> area (0.5f, 0.5f,
                                       juce::jmax (0.0f, local.getWidth() - 1.0f),
                                       juce::jmax (0.0f, local.getHeight() - 1.0f));
    const auto outline = button.findColour (juce::ComboBox::outlineColourId);

    const auto flatOnLeft = button.isConnectedOnLeft();
    const auto flatOnRight = button.isConnectedOnRight();

    if (flatOnLeft || flatOnRight)
    {
        juce::Path path;
        path.addRoundedRectangle (area.getX(), area.getY(), area.getWidth(), area.getHeight(),
                                  0.0f, 0.0f,
                                  ! flatOnLeft, ! flatOnRight, ! flatOnLeft, ! flatOnRight);

        g.setColour (colour);
        g.fillPath (path);
        g.setColour (outline);
        g.strokePath (path, juce::PathStrokeType (1.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
    }
    else
    {
        g.setColour (colour);
        g.fillRoundedRectangle (area, 0.0f);
        g.setColour (outline);
        g.drawRoundedRectangle (area, 0.0f, 1.0f);
    }
}

juce::Font OrvelLookAndFeel::getLabelFont (juce::Label&)
{
    return juce::Font (10.0f, juce::Font::plain);
}

//==============================================================================
OrvelLookAndFeel::DialGeometry OrvelLookAndFeel::getDialGeometry (int x, int y, int width, int height,
                                                                  float toAngle) noexcept
{
    const auto left = (float) x + dialMargin;
    const auto top = (float) y + dialMargin;
    const auto w = juce::jmax (0.0f, (float) width - 2.0f * dialMargin);
    const auto h = juce::jmax (0.0f, (float) height - 2.0f * dialMargin);

    DialGeometry geometry;
    geometry.centre = { left + w / 2.0f, top + h / 2.0f };
    // A dial area under 22 pixels would give a negative radius, which puts the
    // thumb on the opposite side of the centre; such a dial shrinks to a point.
    geometry.radius = juce::jmax (0.0f, juce::jmin (w, h) / 2.0f - 1.0f);

    const auto angle = toAngle - juce::MathConstants<float>::halfPi;
    geometry.thumbCentre = { geometry.centre.x + geometry.radius * std::cos (angle),
                             geometry.centre.y + geometry.radius * std::sin (angle) };
    return geometry;
}

void OrvelLookAndFeel::drawRotarySlider (juce::Graphics& g,
                                         int x, int y, int width, int height,
                                         float sliderPosProportional,
                                         float rotaryStartAngle,
                                         float rotaryEndAngle,
                                         juce::Slider& slider)
{
    const auto outline = slider.findColour (juce::Slider::rotarySliderOutlineColourId);
    const auto fill = slider.findColour (juce::Slider::rotarySliderFillColourId);

    const auto toAngle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);
    const auto dial = getDialGeometry (x, y, width, height, toAngle);

    juce::Path backgroundArc;
    backgroundArc.addCentredArc (dial.centre.x, dial.centre.y, dial.radius, dial.radius,
                                 0.0f, rotaryStartAngle, rotaryEndAngle, true);
    g.setColour (outline);
    g.strokePath (backgroundArc, arcStroke());

    if (slider.isEnabled())
    {
        juce::Path valueArc;
        valueArc.addCentredArc (dial.centre.x, dial.centre.y, dial.radius, dial.radius,
                                0.0f, rotaryStartAngle, toAngle, true);
        g.setColour (fill);
        g.strokePath (valueArc, arcStroke());
    }

    const auto thumb = dial.thumbArea();

    juce::Path shadowShape;
    shadowShape.addRectangle (thumb);
    thumbShadows.drawForPath (g, shadowShape);

    g.setColour (slider.findColour (juce::Slider::thumbColourId));
    g.fillEllipse (thumb);
}

juce::Slider::SliderLayout OrvelLookAndFeel::getSliderLayout (juce::Slider& slider)
{
    const auto position = slider.getTextBoxPosition();
    const auto textBoxWidth = slider.getTextBoxWidth();
    const auto style = slider.getSliderStyle();
    const auto bounds = slider.getLocalBounds();
    const auto w = bounds.getWidth();
    const auto h = bounds.getHeight();
    const auto isBar = style == juce::Slider::LinearBar || style == juce::Slider::LinearBarVertical;

    juce::Slider::SliderLayout layout;

    if (position != juce::Slider::NoTextBox)
    {
        if (isBar)
        {
            layout.textBoxBounds = bounds;
        }
        else
        {
            int boxX = 0, boxY = 0;

            // clang-format off
            switch (position)
            {
                case juce::Slider::TextBoxLeft:   boxX = 0;                      boxY = (h - valueBoxHeight) / 2; break;
                case juce::Slider::TextBoxRight:  boxX = w - textBoxWidth;       boxY = (h - valueBoxHeight) / 2; break;
                case juce::Slider::TextBoxAbove:  boxX = (w - textBoxWidth) / 2; boxY = 0;                        break;
                // Sits 5 px above the lower edge, its top overlapping the dial area.
                case juce::Slider::TextBoxBelow:  boxX = (w - textBoxWidth) / 2; boxY = h - 15;                   break;
                case juce::Slider::NoTextBox:
                default:                          break;
            }
            // clang-format on

            layout.textBoxBounds = { boxX, boxY, textBoxWidth, valueBoxHeight };
        }
    }

    auto dialArea = bounds;

    if (isBar)
    {
        layout.sliderBounds = { 1, 1, juce::jmax (0, w - 2), juce::jmax (0, h - 2) };
        return layout;
    }

    // Rectangle::removeFrom* already clamps each cut to what is there.
    switch (position)
    {
        case juce::Slider::TextBoxLeft: dialArea.removeFromLeft (juce::jmax (0, textBoxWidth)); break;
        case juce::Slider::TextBoxRight: dialArea.removeFromRight (juce::jmax (0, textBoxWidth)); break;
        case juce::Slider::TextBoxAbove: dialArea.removeFromTop (valueBoxHeight); break;
        case juce::Slider::TextBoxBelow: dialArea.removeFromBottom (valueBoxHeight); break;
        case juce::Slider::NoTextBox:
        default: break;
    }

    const auto indent = getSliderThumbRadius (slider);

    if (isHorizontalStyle (style))
        dialArea = { dialArea.getX() + indent, dialArea.getY(),
                     juce::jmax (0, dialArea.getWidth() - 2 * indent), dialArea.getHeight() };
    else if (isVerticalStyle (style))
        dialArea = { dialArea.getX(), dialArea.getY() + indent,
                     dialArea.getWidth(), juce::jmax (0, dialArea.getHeight() - 2 * indent) };

    layout.sliderBounds = dialArea;
    return layout;
}
