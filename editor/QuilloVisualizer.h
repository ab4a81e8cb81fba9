#pragma once

#include "QuilloAudioProcessor.h"

#include <array>
#include <tuple>

//==============================================================================
/**
    The strip that draws one second of each group's LFO: the right group in
    orange first, the left group in light blue over it. Repaints every 32 ms.

    It only looks at the processor: it copies the states that the latest block
    published and reads parameter targets, so it never waits for the audio
    thread and never steps a smoother the block processing relies on.

    The curves start at the offset phases, not at the running phase, so they
    change only when what they are drawn from changes. The display keeps a
    picture of itself and strokes the curves again only then; every other
    repaint draws that picture.
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

    /** Everything the picture depends on. */
    struct Scene
    {
        std::array<QuilloAudioProcessor::TremoloState, 2> states;
        float offsetL, offsetR, limit, smoothing;
        int width, height;
        float scale;

        /** Bit for bit, so a NaN compares equal to itself and draws once. */
        bool sameAs (const Scene& other) const noexcept;
    };

    void paint (juce::Graphics& g) override;
    // Repaints; required by the listener base, though nothing registers the display (the timer repaints).
    void parameterChanged (const juce::String& parameterID, float newValue) override;
    void timerCallback() override;

    void paintState (juce::Graphics& g, const std::tuple<float, QuilloAudioProcessor::TremoloState>& offsetAndState);

    Scene currentScene (float scale) const noexcept;
    void renderPicture (const Scene& scene);

    QuilloAudioProcessor& audioProcessor;

    // The picture at the scale it is shown at, and what it shows; message thread only.
    juce::Image picture;
    Scene pictured {};

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuilloVisualizer)
};
