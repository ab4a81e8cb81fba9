#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include <algorithm>
#include <cmath>

/** The tremolo's arithmetic, apart from the processor.

    Every shape is written twice. shapeValue() is the definition, one value at
    a time: the LFO display draws with it, and lfo() (the per-sample reference)
    evaluates it. fillGains() is the block path's second, branch-free definition,
    which the compiler vectorises. Only a test ties the two together:
    ProcessBlock.FastPathMatchesThePerSampleDefinition in
    tests/engine/TremoloDspTests.cpp runs the block path against the per-sample
    reference for every shape. A change to one shape belongs in both. */
namespace tremolo
{
    enum Shape : int
    {
        sine = 0,
        square = 1,
        saw = 2,
        triangle = 3
    };

    /** Cubic smoothstep (3 - 2t) t^2, evaluated in the order t*t, 3 - (t+t), product. */
    inline float smoothstep (float t) noexcept
    {
        const auto squared = t * t;
        const auto factor = 3.0f - (t + t);
        return factor * squared;
    }

    /** One LFO value, with the exact single-precision arithmetic of the shape
        definitions. Phases of 0 or more give a value between 0 and 1; an
        unknown shape gives 0. */
    inline float shapeValue (float phase, Shape shape, float limit, float smoothing) noexcept
    {
        switch (shape)
        {
            case sine:
                return 0.5f * std::sin ((float) (6.283185307179586 * (double) phase)) + 0.5f;

            case square:
            {
                const auto x = std::fmod (phase, 1.0f);
                const auto s = smoothing;

                if (x < limit - s) return 1.0f;
                if (x < limit) return 1.0f - smoothstep ((x - (limit - s)) / s);
                if (x < 1.0f - s) return 0.0f;
                return smoothstep ((x - (1.0f - s)) / s);
            }

            case saw:
            {
                const auto x = std::fmod (phase, 1.0f);
                const auto s = smoothing;

                if (x < 0.5f - s) return x + 0.5f;
                if (x < 0.5f) return 1.0f - smoothstep ((x - (0.5f - s)) / s);
                return x - 0.5f;
            }

            case triangle:
            {
                const auto x = std::fmod (phase, 1.0f);

                if (x < 0.25f) return (x + x) + 0.5f;
                if (x < 0.75f) return (float) (1.0 - 2.0 * ((double) x - 0.25));
                return (x - 0.75f) * 2.0f;
            }

            default:
                return 0.0f;
        }
    }

    //==============================================================================
    // The block path: phases in closed form per chunk (no error accumulates along
    // the block), shapes evaluated without branches so the compiler vectorises them.

    static constexpr int chunkSize = 64;

    /** sin (2 pi f) = f * (c1 + f^2 * (c3 + ...)) for f in [-1/4, 1/4] cycles: the odd
        polynomial of degree 9 whose largest error there is smallest, 3.3e-9. */
    static constexpr float sineCoefficients[] { 6.283185160e+00f, -4.134165503e+01f, 8.160100407e+01f,
                                                -7.654978229e+01f, 3.953670607e+01f };

    /** What the block path needs for one channel group and one block: where
        and how fast the LFO runs, its shape, and how the result is mixed. The
        defaults are the parameters' own, with the LFO standing still. */
    struct BlockSettings
    {
        double startPhase = 0.0;   // [0, 1)
        float increment = 0.0f;    // phase step per sample
        float depth = 0.5f;
        Shape shape = sine;
        float limit = 0.5f;
        float smoothing = 0.02f;
        float dry = 0.0f;
        float wet = 1.0f;
    };

    /** Gains for count samples from phase base on, one shape: the block path's
        copy of shapeValue(), scaled by the depth. steps[i] is i times the phase
        increment per sample. Written for a compiler that contracts no multiply-add
        (the AVX2 copy of the block path would otherwise give other bits than the
        baseline), so each shape is arranged to need few operations. */
    template <int shape>
    inline void fillGains (float* __restrict gains, int count, float base, const float* __restrict steps,
                           const BlockSettings& settings) noexcept
    {
        // Local copies: the compiler cannot tell that writing the gains leaves the settings alone.
        const auto limit = settings.limit;
        const auto smoothing = settings.smoothing;
        const auto depth = settings.depth;
        const auto inverseSmoothing = shape == square || shape == saw ? 1.0f / smoothing : 0.0f;
        const auto floorGain = 1.0f - depth;

        // The sine's gain v * depth + (1 - depth), with v = 0.5 - 0.5 sin (2 pi (x - 0.5)),
        // is (1 - depth / 2) plus a polynomial whose coefficients carry -depth / 2.
        const auto sineScale = -0.5f * depth;
        const auto k1 = sineScale * sineCoefficients[0];
        const auto k3 = sineScale * sineCoefficients[1];
        const auto k5 = sineScale * sineCoefficients[2];
        const auto k7 = sineScale * sineCoefficients[3];
        const auto k9 = sineScale * sineCoefficients[4];
        const auto sineCentre = 1.0f - 0.5f * depth;

        // The other shapes' gains with the depth folded into each piece: the triangle's
        // 2x + 0.5, 1.5 - 2x and 2x - 1.5, the saw's x + 0.5 and x - 0.5, and the
        // edges' smoothstep h (t) times the depth, (3 depth - 2 depth t) t^2.
        const auto twiceDepth = depth + depth;
        const auto triangleFallFrom = 1.0f + 0.5f * depth;
        const auto triangleRiseFrom = 1.0f - 2.5f * depth;
        const auto sawFallFrom = 1.0f - 1.5f * depth;
        const auto thriceDepth = 3.0f * depth;
        auto scaledSmoothstep = [thriceDepth, twiceDepth] (float t) { return (thriceDepth - t * twiceDepth) * (t * t); };

        for (int i = 0; i < count; ++i)
        {
            const auto phase = base + steps[i];
            const auto x = phase - (float) (int) phase;

            if constexpr (shape == sine)
            {
                // Folded to [-1/4, 1/4] cycles around x = 0.5, where the sine is odd.
                const auto t = x - 0.5f;
                const auto a = std::abs (t);
                const auto f = std::copysign (std::min (a, 0.5f - a), t);
                const auto f2 = f * f;
                gains[i] = sineCentre + f * (k1 + f2 * (k3 + f2 * (k5 + f2 * (k7 + f2 * k9))));
            }
            else if constexpr (shape == triangle)
            {
                // The gain of each straight piece is a line in x, with the depth in its
                // slope and its constant.
                const auto slope = x * twiceDepth;
                const auto upper = x < 0.75f ? triangleFallFrom - slope : slope + triangleRiseFrom;
                gains[i] = x < 0.25f ? slope + sineCentre : upper;
            }
            else if constexpr (shape == square)
            {
                // Every candidate is computed and one is selected, so the loop has no branch.
                // The edges' arguments lie in [0, 1] wherever they are selected.
                const auto falling = 1.0f - scaledSmoothstep ((x - (limit - smoothing)) * inverseSmoothing);
                const auto rising = scaledSmoothstep ((x - (1.0f - smoothing)) * inverseSmoothing) + floorGain;
                const auto low = x < 1.0f - smoothing ? floorGain : rising;
                const auto edge = x < limit ? falling : low;
                gains[i] = x < limit - smoothing ? 1.0f : edge;
            }
            else
            {
                const auto slope = x * depth;
                const auto falling = 1.0f - scaledSmoothstep ((x - (0.5f - smoothing)) * inverseSmoothing);
                const auto upper = x < 0.5f ? falling : slope + sawFallFrom;
                gains[i] = x < 0.5f - smoothing ? slope + sineCentre : upper;
            }
        }
    }

    /** The phase increment reduced to [0, 1): the LFO is periodic, and a small
        increment keeps the per-chunk phases in range of an int truncation. An
        increment that overflowed (an absurd rate or sample period) has no phase
        to follow; the LFO stands still. */
    inline double reducedIncrement (float increment) noexcept
    {
        const auto inc = (double) increment;
        return std::isfinite (inc) ? inc - std::floor (inc) : 0.0;
    }

    /** Phase after numSamples steps from start, wrapped into [0, 1). */
    inline double phaseAfter (double start, float increment, int numSamples) noexcept
    {
        if (numSamples <= 0)
            return start;

        const auto p = start + (double) numSamples * reducedIncrement (increment);
        return p - std::floor (p);
    }

    /** Modulates channels first, first + 2, ... below numChannels in place: each
        sample x becomes x * dry + ((v * depth + (1 - depth)) * x) * wet. */
    inline void modulate (float* const* channelData, int firstChannel, int numChannels, int numSamples,
                          const BlockSettings& blockSettings) noexcept
    {
        // A local copy: the compiler cannot tell that writing samples leaves the caller's settings alone.
        const auto settings = blockSettings;
        alignas (32) float gains[chunkSize];
        alignas (32) float steps[chunkSize];
        const auto inc = reducedIncrement (settings.increment);
        const auto incF = (float) inc;
        const auto dry = settings.dry;
        const auto wet = settings.wet;

        // Every chunk advances by the same steps from its own base phase.
        for (int i = 0; i < chunkSize; ++i)
            steps[i] = (float) i * incF;

        for (int chunkStart = 0; chunkStart < numSamples; chunkStart += chunkSize)
        {
            const auto count = std::min (chunkSize, numSamples - chunkStart);
            const auto p = settings.startPhase + (double) chunkStart * inc;
            const auto base = (float) (p - std::floor (p));

            switch (settings.shape)
            {
                case sine: fillGains<sine> (gains, count, base, steps, settings); break;
                case square: fillGains<square> (gains, count, base, steps, settings); break;
                case saw: fillGains<saw> (gains, count, base, steps, settings); break;
                case triangle: fillGains<triangle> (gains, count, base, steps, settings); break;
                default: std::fill (gains, gains + count, 1.0f - settings.depth); break;
            }

            for (int c = firstChannel; c < numChannels; c += 2)
            {
                auto* samples = channelData[c] + chunkStart;

                for (int i = 0; i < count; ++i)
                {
                    const auto x = samples[i];
                    samples[i] = x * dry + (gains[i] * x) * wet;
                }
            }
        }
    }
}
