#pragma once

#include "QuilloAudioProcessor.h"

#include <tuple>

//==============================================================================
/**
    The strip that draws one second of each group's LFO: the right group in
    orange first, the left group in light blue over it. Repaints every 32 ms.

    It only looks at the processor: it copies the states that the latest block
    published and reads parameter targets, so it never waits for the audio
    thread and never steps a smoother the block processing relies on.
*/
class QuilloVisualizer : private juce::Component,
                         private juce::AudioProcessorValueTreeState::Listener,
                         private juce::Timer
{
public:
    explicit QuilloVisualizer (QuilloAudioProcessor& processorToShow);
    ~QuilloVisualizer() override;

private:
    friend class QuilloAudioProcessorEditor;

    void paint (juce::Graphics& g) override;
    // Repaints; required by the listener base, though nothing registers the display (the timer repaints).
    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void timerCallback() override;

    void paintState (juce::Graphics& g, const std::tuple<float, QuilloAudioProcessor::TremoloState>& offsetAndState);

    QuilloAudioProcessor& audioProcessor;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuilloVisualizer)
};
