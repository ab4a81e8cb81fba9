#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_graphics/juce_graphics.h>

#include <algorithm>
#include <cmath>

// Free of any test framework, so tools and benchmarks use it too.
namespace testing_support
{
    /** The largest difference between two buffers of the same size, over every channel and sample. */
    inline float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        float worst = 0.0f;

        for (int c = 0; c < a.getNumChannels(); ++c)
            for (int i = 0; i < a.getNumSamples(); ++i)
                worst = std::max (worst, std::abs (a.getSample (c, i) - b.getSample (c, i)));

        return worst;
    }

    /** The largest difference between two colours in any channel, alpha included (0 to 255). */
    inline int channelDifference (juce::Colour a, juce::Colour b)
    {
        return juce::jmax (std::abs (a.getRed() - b.getRed()), std::abs (a.getGreen() - b.getGreen()),
                           std::abs (a.getBlue() - b.getBlue()), std::abs (a.getAlpha() - b.getAlpha()));
    }
}
