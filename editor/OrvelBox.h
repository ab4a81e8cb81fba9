#pragma once

#include "ShadowCache.h"

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    A panel: a rounded rectangle in its colour with a soft shadow over it, which
    hosts at most one content component inside a margin. The owner sets the
    public members directly; they take effect at the next paint or layout.
*/
class OrvelBox : public juce::Component
{
public:
    OrvelBox();
    ~OrvelBox() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Makes the component the panel's content, replacing (not deleting) the old
        one; nullptr empties the panel. The next resized() lays it out. */
    void setContent (juce::Component* newContent);

    // Not owned. A SafePointer, so a content destroyed before the panel is
    // simply forgotten instead of being laid out or removed after its death.
    juce::Component::SafePointer<juce::Component> content;
    juce::Colour colour { 0xff414141 };
    float contentMargin = 5.0f;
    float paintInset = 0.0f;

private:
    // Blurred once per size of the panel.
    ShadowCache shadow { juce::DropShadow (juce::Colour (0x4c000000), 10, { 0, 0 }), 1 };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvelBox)
};
