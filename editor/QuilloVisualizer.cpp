#include "QuilloVisualizer.h"

#include <cstring>

namespace
{
    constexpr int repaintIntervalMs = 32;
    constexpr int margin = 5;
    constexpr int pointsPerCurve = 1000;

    const juce::Colour backgroundColour { 0xff1e1e1e };
    const juce::Colour rightCurveColour { 0xfffe9400 };
    const juce::Colour leftCurveColour { 0xff6dd6ff };

    bool sameBits (float a, float b) noexcept
    {
        return std::memcmp (&a, &b, sizeof (float)) == 0;
    }

    bool sameState (const QuilloAudioProcessor::TremoloState& a, const QuilloAudioProcessor::TremoloState& b) noexcept
    {
        return sameBits (a.rate, b.rate) && sameBits (a.depth, b.depth) && a.waveform == b.waveform;
    }
}

bool QuilloVisualizer::Scene::sameAs (const Scene& other) const noexcept
{
    return sameState (states[0], other.states[0]) && sameState (states[1], other.states[1])
           && sameBits (offsetL, other.offsetL) && sameBits (offsetR, other.offsetR)
           && sameBits (limit, other.limit) && sameBits (smoothing, other.smoothing)
           && width == other.width && height == other.height && sameBits (scale, other.scale);
}

QuilloVisualizer::QuilloVisualizer (QuilloAudioProcessor& processorToShow)
    : audioProcessor (processorToShow)
{
    startTimer (repaintIntervalMs);
    setOpaque (true);
}

QuilloVisualizer::~QuilloVisualizer() = default;

QuilloVisualizer::Scene QuilloVisualizer::currentScene (float scale) const noexcept
{
    Scene scene;

    // One consistent copy of both groups, each from a single block.
    scene.states = audioProcessor.getPublishedTremoloStates();

    // These four never ramp, so their targets are exactly what a next-value
    // read would give, and reading them leaves the audio thread's smoothers alone.
    scene.offsetL = audioProcessor.offsetLParameter.getTargetValue();
    scene.offsetR = audioProcessor.offsetRParameter.getTargetValue();
    scene.limit = audioProcessor.limitParameter.getTargetValue();
    scene.smoothing = audioProcessor.smoothingParameter.getTargetValue();

    scene.width = getWidth();
    scene.height = getHeight();
    scene.scale = scale;
    return scene;
}

void QuilloVisualizer::paint (juce::Graphics& g)
{
    if (getWidth() <= 0 || getHeight() <= 0)
        return;

    // The picture is kept at the resolution of the pixels it lands on, so that
    // drawing it is a plain copy and looks as sharp as drawing the curves would.
    const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const auto scene = currentScene (scale);

    if (! picture.isValid() || ! scene.sameAs (pictured))
        renderPicture (scene);

    if (sameBits (scale, 1.0f))
        g.drawImageAt (picture, 0, 0);
    else
        g.drawImage (picture, getLocalBounds().toFloat());
}

void QuilloVisualizer::renderPicture (const Scene& scene)
{
    const auto pictureWidth = juce::jmax (1, juce::roundToInt ((float) scene.width * scene.scale));
    const auto pictureHeight = juce::jmax (1, juce::roundToInt ((float) scene.height * scene.scale));

    // Opaque like the display itself; drawn onto an opaque window it is copied
    // rather than blended.
    if (picture.getWidth() != pictureWidth || picture.getHeight() != pictureHeight)
        picture = juce::Image (juce::Image::RGB, pictureWidth, pictureHeight, false);

    pictured = scene;

    juce::Graphics g (picture);

    if (! sameBits (scene.scale, 1.0f))
        g.addTransform (juce::AffineTransform::scale ((float) pictureWidth / (float) scene.width,
                                                      (float) pictureHeight / (float) scene.height));

    g.fillAll (backgroundColour);

    g.setColour (rightCurveColour);
    paintState (g, { scene.offsetR, scene.states[1] });

    g.setColour (leftCurveColour);
    paintState (g, { scene.offsetL, scene.states[0] });
}

void QuilloVisualizer::paintState (juce::Graphics& g,
                                   const std::tuple<float, QuilloAudioProcessor::TremoloState>& offsetAndState)
{
    const auto& [offset, state] = offsetAndState;

    const auto innerWidth = juce::jmax (0, pictured.width - 2 * margin);
    const auto innerHeight = juce::jmax (0, pictured.height - 2 * margin);

    const auto half = (float) innerHeight * 0.5f;
    const auto mid = half + (float) margin;
    const auto depthScale = 2.0f * state.depth;

    const auto usesSmoothing = state.waveform == QuilloAudioProcessor::Square
                               || state.waveform == QuilloAudioProcessor::Saw;
    const auto smoothing = usesSmoothing ? pictured.smoothing : 0.0f;

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
            const auto value = QuilloAudioProcessor::lfoShape (phase, state.waveform, pictured.limit, smoothing);
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
