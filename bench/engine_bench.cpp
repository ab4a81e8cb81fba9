// processBlock against the per-sample definition, stereo at 48 kHz. Reports
// nanoseconds per sample frame and per channel sample, and how far the fast
// path's output lies from the definition's on the same block from the same state.

#include "Comparisons.h"
#include "ParameterAccess.h"
#include "ReferenceTremolo.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

namespace
{
    using W = QuilloAudioProcessor::Waveform;
    constexpr double sampleRate = 48000.0;

    struct Fixture
    {
        explicit Fixture (W shape)
        {
            juce::MessageManager::getInstance();
            processor = std::make_unique<QuilloAudioProcessor>();
            processor->prepareToPlay (sampleRate, 4096);

            auto set = [this] (const char* id, float value) { testing_support::trySetParameter (*processor, id, value); };

            set ("waveform", (float) shape);
            set ("rate", 5.3f);
            set ("depth", 0.8f);
            set ("dry", 0.2f);
            set ("limit", 0.4f);
            set ("smoothing", 0.1f);
            set ("offsetr", 0.25f);
        }

        std::unique_ptr<QuilloAudioProcessor> processor;
    };

    juce::AudioBuffer<float> signal (int frames)
    {
        juce::AudioBuffer<float> buffer (2, frames);
        juce::Random random (1);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < frames; ++i)
                buffer.setSample (c, i, random.nextFloat() * 2.0f - 1.0f);

        return buffer;
    }

    // Seconds per frame and per channel sample, printed with SI prefixes ("2.1n" is 2.1 ns).
    void report (benchmark::State& state, int frames)
    {
        state.counters["per_frame"] = benchmark::Counter ((double) frames, benchmark::Counter::kIsIterationInvariantRate
                                                                               | benchmark::Counter::kInvert);
        state.counters["per_sample"] = benchmark::Counter ((double) frames * 2.0, benchmark::Counter::kIsIterationInvariantRate
                                                                                      | benchmark::Counter::kInvert);
    }

    template <bool fast>
    void processTremolo (benchmark::State& state, W shape)
    {
        const auto frames = (int) state.range (0);
        Fixture fixture (shape);
        auto buffer = signal (frames);
        juce::MidiBuffer midi;

        for (auto _ : state)
        {
            if constexpr (fast)
                fixture.processor->processBlock (buffer, midi);
            else
                processBlockPerSample (*fixture.processor, buffer);

            benchmark::DoNotOptimize (buffer.getReadPointer (0));
            benchmark::ClobberMemory();
        }

        // The signal decays block after block; denormals are flushed inside the call.
        report (state, frames);

        if constexpr (fast)
        {
            // Accuracy against the definition on one 512-frame block from the same state.
            Fixture a (shape), b (shape);
            auto x = signal (512);
            auto y = x;
            a.processor->processBlock (x, midi);
            processBlockPerSample (*b.processor, y);

            state.counters["max_diff_vs_reference"] = testing_support::maxDifference (x, y);
        }
    }

    /** processBlock/Sine/512 and so on: the fast path and the definition, per shape and block size. */
    void registerBenchmarks()
    {
        const char* const shapeNames[] { "Sine", "Square", "Saw", "Triangle" };

        for (const auto* path : { "processBlock", "reference" })
            for (int shape = 0; shape < 4; ++shape)
            {
                const auto name = std::string (path) + "/" + shapeNames[shape];
                const auto run = std::string (path) == "processBlock" ? processTremolo<true> : processTremolo<false>;

                benchmark::RegisterBenchmark (name.c_str(), run, (W) shape)->Arg (64)->Arg (512)->Arg (4096);
            }
    }
}

int main (int argc, char** argv)
{
    registerBenchmarks();
    benchmark::Initialize (&argc, argv);

    if (benchmark::ReportUnrecognizedArguments (argc, argv))
        return 1;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
