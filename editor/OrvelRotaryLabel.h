#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

//==============================================================================
/**
    A knob caption: once attached to a component it keeps itself over that
    component's top edge, as wide as the component and overlapping its top
    10 pixels, whichever side attachToComponent asked for.
*/
class OrvelRotaryLabel : public juce::Label
{
public:
    OrvelRotaryLabel();
    OrvelRotaryLabel (const juce::String& nameOfComponent, const juce::String& labelText);
    ~OrvelRotaryLabel() override;

    void componentMovedOrResized (juce::Component& owner, bool wasMoved, bool wasResized) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OrvelRotaryLabel)
};
