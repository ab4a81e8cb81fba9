#include "QuilloVisualizer.h"

namespace
{
    constexpr int repaintIntervalMs = 32;
    constexpr int margin = 5;
    constexpr int pointsPerCurve = 1000;

    const juce::Colour backgroundColour { 0xff1e1e1e };
    const juce::Colour rightCurveColour { 0xfffe9400 };
    const juce::Colour leftCurveColour { 0xff6dd6ff };
}

QuilloVisualizer::QuilloVisualizer (QuilloAudioProcessor& processorToShow)
    : audioProcessor (processorToShow)
{
    startTimer (repaintIntervalMs);
    setOpaque (true);
}

QuilloVisualizer::~QuilloVisualizer() = default;

void QuilloVisualizer::paint (juce::Graphics& g)
{
    g.fillAll (backgroundColour);

    // One consistent copy of both groups, each from a single block.
    const auto states = audioProcessor.getPublishedTremoloStates();

    // The offsets never ramp, so their targets are exactly what a next-value
    // read would give, and reading them leaves the audio thread's smoothers alone.
    g.setColour (rightCurveColour);
    paintState (g, { audioProcessor.offsetRParameter.getTargetValue(), states[1] });

    g.setColour (leftCurveColour);
    paintState (g, { audioProcessor.offsetLParameter.getTargetValue(), states[0] });
}

void QuilloVisualizer::paintState (juce::Graphics& g,
                                   const std::tuple<float, QuilloAudioProcessor::TremoloState>& offsetAndState)
{
    const auto& [offset, state] = offsetAndState;

    const auto innerWidth = juce::jmax (0, getWidth() - 2 * margin);
    const auto innerHeight = juce::jmax (0, getHeight() - 2 * margin);

    const auto half = (float) innerHeight * 0.5f;
    const auto mid = half + (float) margin;
    const auto depthScale = 2.0f * state.depth;

    const auto limit = audioProcessor.limitParameter.getTargetValue();
    const auto usesSmoothing = state.waveform == QuilloAudioProcessor::Square
                               || state.waveform == QuilloAudioProcessor::Saw;
    const auto smoothing = usesSmoothing ? audioProcessor.smoothingParameter.getTargetValue() : 0.0f;

    juce::Path curve;
    curve.preallocateSpace (3 * pointsPerCurve + 3);

    for (int k = 0; k < pointsPerCurve; ++k)
    {
        const auto x = (k * innerWidth) / pointsPerCurve;
        auto y = mid;

        // With no inner width there is no second to spread over: the curve lies
        // flat on the centre line rather than dividing by zero.
        if (innerWidth > 0)
        {
            const auto phase = ((float) x / (float) innerWidth) * state.rate + offset;
            const auto value = QuilloAudioProcessor::lfoShape (phase, state.waveform, limit, smoothing);
            y = mid - ((value - 0.5f) * depthScale) * half;
        }

        const juce::Point<float> point ((float) (x + margin), y);

        if (k == 0)
            curve.startNewSubPath (point);
        else
            curve.lineTo (point);
    }

    g.strokePath (curve, juce::PathStrokeType (2.0f, juce::PathStrokeType::mitered, juce::PathStrokeType::butt));
}

void QuilloVisualizer::parameterChanged (const juce::String&, float)
{
    repaint();
}

void QuilloVisualizer::timerCallback()
{
    repaint();
}
