#pragma once

#include "QuilloAudioProcessor.h"

/** The block processing written sample by sample, exactly as the tremolo is
    defined: one lfo() call per sample and channel, phases accumulated per
    sample. It is slow on purpose; the tests and benchmarks use it as the
    oracle for the processor's vectorised block path. */
inline void processBlockPerSample (QuilloAudioProcessor& processor, juce::AudioBuffer<float>& buffer)
{
    const juce::ScopedNoDenormals noDenormals;

    const auto ins = juce::jmin (processor.getTotalNumInputChannels(), buffer.getNumChannels());
    const auto outs = juce::jmin (processor.getTotalNumOutputChannels(), buffer.getNumChannels());
    const auto n = buffer.getNumSamples();

    processor.tremoloStates[0] = processor.updateTremoloState (processor.getPlayHead());
    processor.tremoloStates[1] = processor.updateTremoloState (processor.getPlayHead());

    const auto dry = processor.dryParameter.getNextValue();
    const auto wet = processor.wetParameter.getNextValue();
    const float offsets[2] { processor.offsetLParameter.getNextValue(), processor.offsetRParameter.getNextValue() };

    if (ins > 0)
    {
        float p = 0.0f;

        for (int group = 0; group < 2; ++group)
        {
            const auto& state = processor.tremoloStates[group];

            for (int c = group; c < ins; c += 2)
            {
                p = processor.lfoPhase[group] + offsets[group];
                if (p >= 1.0f) p -= 1.0f;
                if (p < 0.0f) p += 1.0f;

                auto* samples = buffer.getWritePointer (c);

                for (int i = 0; i < n; ++i)
                {
                    const auto x = samples[i];
                    const auto v = processor.lfo (p, state.waveform);
                    const auto a = v * state.depth;
                    const auto b = a + (1.0f - state.depth);
                    const auto m = b * x;
                    const auto d = m * wet;
                    samples[i] = x * dry + d;

                    p = p + state.rate * processor.inverseSampleRate;
                    if (p >= 1.0f) p -= 1.0f;
                }
            }

            processor.lfoPhase[group] = p - offsets[group];
        }

        // Both LFOs run on the left group's clock: the next block starts the
        // right group from where the left one stands, whatever lead a ramp gave it.
        if (ins > 1)
            processor.lfoPhase[1] = processor.lfoPhase[0];
    }

    for (int c = ins; c < outs; ++c)
        buffer.clear (c, 0, n);
}
