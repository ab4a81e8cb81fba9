#include "OrvelRotaryLabel.h"

OrvelRotaryLabel::OrvelRotaryLabel() = default;

OrvelRotaryLabel::OrvelRotaryLabel (const juce::String& nameOfComponent, const juce::String& labelText)
    : juce::Label (nameOfComponent, labelText)
{
}

OrvelRotaryLabel::~OrvelRotaryLabel() = default;

void OrvelRotaryLabel::componentMovedOrResized (juce::Component& owner, bool, bool)
{
    auto& methods = static_cast<juce::Label::LookAndFeelMethods&> (getLookAndFeel());
    const auto labelFont = methods.getLabelFont (*this);
    const auto labelBorder = methods.getLabelBorderSize (*this);

    const auto height = juce::roundToInt (labelFont.getHeight() + 0.5f) + labelBorder.getTop() + labelBorder.getBottom() + 6;

    setBounds (owner.getX(), owner.getY() + 10 - height, owner.getWidth(), height);
}
