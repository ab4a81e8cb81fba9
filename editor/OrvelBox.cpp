#include "OrvelBox.h"

OrvelBox::OrvelBox() = default;
OrvelBox::~OrvelBox() = default;

void OrvelBox::paint (juce::Graphics& g)
{
    const auto inset = (int) paintInset;
    const auto w = juce::jmax (0, getWidth() - 2 * inset);
    const auto h = juce::jmax (0, getHeight() - 2 * inset);

    juce::Path shape;
    shape.addRoundedRectangle ((float) inset, (float) inset, (float) w, (float) h, 3.0f, 3.0f,
                               true, true, true, true);

    g.setColour (colour);
    g.fillPath (shape);

    // Drawn over the fill on purpose: it darkens the panel's rim from the inside too.
    shadow.drawForPath (g, shape);
}

void OrvelBox::resized()
{
    if (content == nullptr)
        return;

    const auto margin = (int) contentMargin;
    content->setBounds (margin, margin,
                        juce::jmax (0, getWidth() - 2 * margin),
                        juce::jmax (0, getHeight() - 2 * margin));
}

void OrvelBox::setContent (juce::Component* newContent)
{
    if (content != nullptr)
        removeChildComponent (content.getComponent());

    content = newContent;

    if (newContent != nullptr)
        addAndMakeVisible (newContent);
}
