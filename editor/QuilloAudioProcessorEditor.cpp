#include "QuilloAudioProcessorEditor.h"

#include <cmath>

namespace
{
    constexpr int editorWidth = 400;
    constexpr int editorHeight = 255;
    constexpr int topAreaHeight = 85;

    // How often the editor re-reads the "sync" and "waveform" targets, which is
    // how a change made off the message thread reaches the knobs.
    constexpr int targetFollowIntervalMs = 50;

    // 1.5 pi - 0.8 and 2.5 pi + 0.8: the arc leaves a gap of about 88 degrees at the bottom.
    constexpr float rotaryStartAngle = 3.9123890f;
    constexpr float rotaryEndAngle = 8.6539812f;

    /** The waveform a parameter value selects, truncated toward zero. Values
        that are not a number or whose whole part is outside the int range would
        make that truncation undefined, so they select no waveform at all. */
    QuilloAudioProcessor::Waveform toWaveform (float value) noexcept
    {
        if (! (value > -1.0f && value < 4.0f))
            return (QuilloAudioProcessor::Waveform) -1;

        return (QuilloAudioProcessor::Waveform) (int) value;
    }

    /** Lays the knobs of one row side by side, each as wide as an equal share of the area. */
    void layOutRow (const std::vector<juce::Component*>& row, juce::Rectangle<int> panelBounds)
    {
        if (row.empty())
            return;

        auto area = juce::Rectangle<int> (panelBounds.getX() + 5, panelBounds.getY() + 10,
                                          juce::jmax (0, panelBounds.getWidth() - 10),
                                          juce::jmax (0, panelBounds.getHeight() - 10));

        const auto knobWidth = (int) ((float) area.getWidth() / (float) row.size());

        for (auto* knob : row)
            knob->setBounds (area.removeFromLeft (knobWidth));
    }
}

//==============================================================================
QuilloAudioProcessorEditor::QuilloAudioProcessorEditor (QuilloAudioProcessor& processorToEdit)
    : juce::AudioProcessorEditor (processorToEdit),
      audioProcessor (processorToEdit),
      visualizer (processorToEdit)
{
    addAndMakeVisible (middleBox);
    addAndMakeVisible (bottomBox);
    addAndMakeVisible (topBox);

    topBox.colour = juce::Colour (0xff1e1e1e);
    topBox.setContent (&visualizer);

    addRow ({ &audioProcessor.dryParameter, &audioProcessor.wetParameter, &audioProcessor.waveformParameter,
              &audioProcessor.smoothingParameter, &audioProcessor.offsetLParameter, &audioProcessor.offsetRParameter },
            bottomRow);

    addRow ({ &audioProcessor.depthParameter, &audioProcessor.rateParameter, &audioProcessor.figureParameter,
              &audioProcessor.syncParameter, &audioProcessor.limitParameter },
            middleRow);

    setBounds (getX(), getY(), editorWidth, editorHeight);

    followTargets();

    auto& tree = audioProcessor.parametersManager.valueTreeState;
    tree.addParameterListener ("sync", this);
    tree.addParameterListener ("waveform", this);

    targetFollower.startTimer (targetFollowIntervalMs);
}

QuilloAudioProcessorEditor::~QuilloAudioProcessorEditor()
{
    // Before any member goes, so no change can reach a half-destroyed editor.
    auto& tree = audioProcessor.parametersManager.valueTreeState;
    tree.removeParameterListener ("sync", this);
    tree.removeParameterListener ("waveform", this);
    targetFollower.stopTimer();
}

//==============================================================================
void QuilloAudioProcessorEditor::addRow (std::initializer_list<const PluginParameter*> parameters,
                                         std::vector<juce::Component*>& row)
{
    auto& tree = audioProcessor.parametersManager.valueTreeState;

    for (const auto* parameter : parameters)
    {
        const auto& id = parameter->paramID;
        auto* treeParameter = tree.getParameter (id);

        // Every parameter object registers itself with the tree, so this only
        // fails if the engine's parameter set is broken; the knob is left out.
        if (treeParameter == nullptr)
        {
            jassertfalse;
            continue;
        }

        slidersById[id] = addSlider (treeParameter, row);
        idsByName[treeParameter->getName (1024)] = id;
    }
}

juce::Slider* QuilloAudioProcessorEditor::addSlider (juce::RangedAudioParameter* parameter,
                                                     std::vector<juce::Component*>& row)
{
    auto slider = std::make_unique<juce::Slider>();
    slider->setLookAndFeel (&lookAndFeel);
    slider->setSliderStyle (juce::Slider::Rotary);
    slider->setRotaryParameters (rotaryStartAngle, rotaryEndAngle, true);
    slider->setTextValueSuffix (parameter->getLabel());
    slider->setTextBoxStyle (juce::Slider::TextBoxBelow, false, 55, 25);

    const auto name = parameter->getName (1024);

    auto label = std::make_unique<OrvelRotaryLabel> (name, name);
    label->setLookAndFeel (&lookAndFeel);
    label->setJustificationType (juce::Justification::horizontallyCentred);
    label->attachToComponent (slider.get(), true);

    slider->setName (name);
    slider->setComponentID (parameter->paramID);

    addAndMakeVisible (*label);
    addAndMakeVisible (*slider);

    auto attachment = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (
        audioProcessor.parametersManager.valueTreeState, parameter->paramID, *slider);

    row.push_back (slider.get());
    sliders.add (slider.release());
    labels.add (label.release());
    attachments.add (attachment.release());

    return sliders.getLast();
}

//==============================================================================
void QuilloAudioProcessorEditor::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xff555555));
}

void QuilloAudioProcessorEditor::resized()
{
    auto area = getLocalBounds();

    auto top = area.removeFromTop (topAreaHeight);
    auto middle = area.removeFromTop ((int) ((float) area.getHeight() * 0.5f));
    auto bottom = area;

    // removeFrom* never takes more than is left, so nothing goes negative.
    for (auto* panelArea : { &top, &middle, &bottom })
    {
        panelArea->removeFromLeft (2);
        panelArea->removeFromRight (2);
    }

    top.removeFromTop (2);
    top.removeFromBottom (1);
    middle.removeFromTop (1);
    middle.removeFromBottom (1);
    bottom.removeFromTop (1);
    bottom.removeFromBottom (2);

    topBox.setBounds (top);
    middleBox.setBounds (middle);
    bottomBox.setBounds (bottom);

    layOutRow (bottomRow, bottomBox.getBounds());
    layOutRow (middleRow, middleBox.getBounds());
}

//==============================================================================
void QuilloAudioProcessorEditor::parameterChanged (const juce::String& parameterID, float newValue)
{
    // The knobs may only be touched on the message thread. A change from any
    // other thread is left to the timer, which reads the targets rather than a
    // value queued here: a queued value could be older than a change made on
    // the message thread meanwhile. Nor can this set a flag for the timer: the
    // tree calls the editor before the parameter layer has stored the new
    // target, so a timer tick in between would read the old one and lose it.
    if (juce::Thread::getCurrentThreadId() != messageThreadId)
        return;

    const auto syncId = idsByName.find ("Sync");

    if (syncId != idsByName.end() && parameterID == syncId->second)
    {
        updateSyncSliders (newValue != 0.0f);
        return;
    }

    const auto waveformId = idsByName.find ("Waveform");

    if (waveformId != idsByName.end() && parameterID == waveformId->second)
        updateWaveformSliders (toWaveform (newValue));
}

void QuilloAudioProcessorEditor::followTargets()
{
    // Targets, not next values: reading them steps nothing the audio thread uses.
    updateSyncSliders (audioProcessor.syncParameter.getTargetValue() != 0.0f);
    updateWaveformSliders (toWaveform (audioProcessor.waveformParameter.getTargetValue()));
}

void QuilloAudioProcessorEditor::TargetFollower::timerCallback()
{
    // Setting a knob to the state it already has changes and repaints nothing.
    editor.followTargets();
}

juce::Slider* QuilloAudioProcessorEditor::findSlider (const juce::String& name) const
{
    const auto id = idsByName.find (name);

    if (id == idsByName.end())
        return nullptr;

    const auto slider = slidersById.find (id->second);
    return slider != slidersById.end() ? slider->second : nullptr;
}

void QuilloAudioProcessorEditor::updateSyncSliders (bool isSynced)
{
    auto* figure = findSlider ("Figure");
    auto* rate = findSlider ("Rate");

    if (figure == nullptr || rate == nullptr)
        return;

    figure->setEnabled (isSynced);
    rate->setEnabled (! isSynced);
}

void QuilloAudioProcessorEditor::updateWaveformSliders (QuilloAudioProcessor::Waveform waveform)
{
    auto* limit = findSlider ("Limit");
    auto* smoothing = findSlider ("Smoothing");

    if (limit == nullptr || smoothing == nullptr)
        return;

    limit->setEnabled (waveform == QuilloAudioProcessor::Square);
    smoothing->setEnabled (waveform == QuilloAudioProcessor::Square || waveform == QuilloAudioProcessor::Saw);
}
