#pragma once

#include "ShadowCache.h"

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    The look of the effect's knobs and captions: a thin arc dial with a small
    white thumb dot that casts a soft shadow, a compact value box under the dial,
    and one small plain font for every label.
*/
class OrvelLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OrvelLookAndFeel();
    ~OrvelLookAndFeel() override;

    void drawButtonBackground (juce::Graphics& g,
                               juce::Button& button,
                               const juce::Colour& backgroundColour,
                               bool shouldDrawButtonAsHighlighted,
                               bool shouldDrawButtonAsDown) override;

    juce::Font getLabelFont (juce::Label& label) override;

    void drawRotarySlider (juce::Graphics& g,
                           int x, int y, int width, int height,
                           float sliderPosProportional,
                           float rotaryStartAngle,
                           float rotaryEndAngle,
                           juce::Slider& slider) override;

    juce::Slider::SliderLayout getSliderLayout (juce::Slider& slider) override;

    //==============================================================================
    /** Where the dial's arcs and thumb go inside a dial area. */
    struct DialGeometry
    {
        juce::Point<float> centre;
        float radius;
        juce::Point<float> thumbCentre;

        /** The square that both the thumb dot and its shadow occupy. */
        juce::Rectangle<float> thumbArea() const noexcept { return { thumbCentre.x - 4.0f, thumbCentre.y - 4.0f, 8.0f, 8.0f }; }
    };

    /** The dial's geometry for a dial area and a value angle (radians, clockwise from 12 o'clock). */
    static DialGeometry getDialGeometry (int x, int y, int width, int height, float toAngle) noexcept;

private:
    // The thumb's shadow, blurred once per sub-pixel position of the dot: one
    // or two for each knob at rest, a few more while one is turned.
    static constexpr size_t thumbShadowsKept = 32;
    ShadowCache thumbShadows;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvelLookAndFeel)
};
