#include "TestHelpers.h"

using namespace testing_support;
using W = QuilloAudioProcessor::Waveform;

namespace
{
    constexpr double sampleRates[] { 44100.0, 48000.0, 96000.0 };
    constexpr W shapes[] { W::Sine, W::Square, W::Saw, W::Triangle };
    constexpr int announcedBlockSize = 480;

    void configure (QuilloAudioProcessor& p, W shape)
    {
        setParameter (p, "waveform", (float) shape);
        setParameter (p, "rate", 7.7f);
        setParameter (p, "depth", 0.9f);
        setParameter (p, "dry", 0.15f);
        setParameter (p, "wet", 0.8f);
        setParameter (p, "limit", 0.35f);
        setParameter (p, "smoothing", 0.3f);
        setParameter (p, "offsetl", 0.2f);
        setParameter (p, "offsetr", 0.7f);
    }

    bool allNormalOrZero (const juce::AudioBuffer<float>& buffer)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                const auto kind = std::fpclassify (buffer.getSample (c, i));
                if (kind != FP_NORMAL && kind != FP_ZERO)
                    return false;
            }

        return true;
    }
}

TEST (ProcessingSweep, OutputDoesNotDependOnHowTheSignalIsCutIntoBlocks)
{
    const int blockSizes[] { 1, 17, 64, 512, 1024, 2 * announcedBlockSize };
    const auto length = 3 * 44100 / 4;

    for (auto sampleRate : sampleRates)
        for (auto shape : shapes)
        {
            auto whole = preparedProcessor (sampleRate, announcedBlockSize);
            configure (*whole, shape);
            whole->prepareToPlay (sampleRate, announcedBlockSize);
            const auto input = noise (2, length, 7);
            auto expected = input;
            process (*whole, expected);

            for (auto blockSize : blockSizes)
            {
                auto sliced = preparedProcessor (sampleRate, announcedBlockSize);
                configure (*sliced, shape);
                sliced->prepareToPlay (sampleRate, announcedBlockSize);
                auto output = input;
                processInBlocks (*sliced, output, blockSize);

                EXPECT_LT (maxDifference (output, expected), 1e-4f)
                    << "rate " << sampleRate << " shape " << shape << " block " << blockSize;
            }
        }
}

TEST (ProcessingSweep, ChangesBetweenBlocksNeverProduceNaNInfinityOrSubnormals)
{
    const int blockSizes[] { 1, 17, 64, 512, 1024, 2 * announcedBlockSize };
    std::mt19937 random (3);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);

    for (auto sampleRate : sampleRates)
        for (auto shape : shapes)
            for (auto blockSize : blockSizes)
            {
                auto p = preparedProcessor (sampleRate, announcedBlockSize);
                configure (*p, shape);
                const auto blocks = juce::jmax (4, 4096 / blockSize);

                for (int b = 0; b < blocks; ++b)
                {
                    for (auto* id : { "dry", "wet", "depth", "rate", "smoothing", "offsetl", "offsetr", "limit" })
                    {
                        auto* parameter = p->parametersManager.valueTreeState.getParameter (id);
                        parameter->setValueNotifyingHost (unit (random));
                    }

                    if (b % 3 == 0)
                        setParameter (*p, "waveform", (float) (b % 4));

                    // Noise with a tail of tiny and subnormal input samples.
                    auto buffer = noise (2, blockSize, (unsigned) b);
                    for (int i = blockSize / 2; i < blockSize; ++i)
                        for (int c = 0; c < 2; ++c)
                            buffer.setSample (c, i, (i % 2 == 0 ? 1e-39f : 1e-30f) * buffer.getSample (c, i));

                    process (*p, buffer);
                    ASSERT_TRUE (allNormalOrZero (buffer))
                        << "rate " << sampleRate << " shape " << shape << " block " << blockSize << " #" << b;
                }
            }
}

TEST (ProcessingSweep, AbsurdHostTempoOrSampleRateGivesFiniteOutputAndTheLfoRecovers)
{
    constexpr auto nan = std::numeric_limits<double>::quiet_NaN();
    constexpr auto infinity = std::numeric_limits<double>::infinity();

    // 1e-39 Hz: a period beyond float; 3e-39 Hz: a period just within it, whose
    // product with any rate overflows. Tempos whose rate overflows a float, or
    // whose rate times that period does.
    const double hostSampleRates[] { 48000.0, 1e-39, 3e-39, 1e-320, 0.0, -48000.0, nan, infinity, 1e300 };
    const double tempos[] { 120.0, 1e300, 2.6e39, 1e38, std::numeric_limits<double>::max(), -120.0, nan, infinity };
    const juce::int64 positions[] { 0, 1'000'000'000, std::numeric_limits<juce::int64>::max(),
                                    std::numeric_limits<juce::int64>::min() };

    for (auto sampleRate : hostSampleRates)
    {
        SCOPED_TRACE (juce::String ("sample rate ") + juce::String (sampleRate));
        auto p = preparedProcessor (48000.0, 64);
        FakePlayHead playHead;
        p->setPlayHead (&playHead);
        setParameter (*p, "sync", 1.0f);
        setParameter (*p, "rate", 10.0f);
        setParameter (*p, "depth", 1.0f);
        p->prepareToPlay (sampleRate, 64);

        // The output, and everything the next block starts from.
        auto allFinite = [&] (const juce::AudioBuffer<float>& buffer) {
            return allNormalOrZero (buffer) && std::isfinite (p->inverseSampleRate)
                   && std::isfinite (p->lfoPhase[0]) && std::isfinite (p->lfoPhase[1]);
        };

        for (auto shape : shapes)
            for (auto figure : { 0, 5 })
                for (auto tempo : tempos)
                    for (auto position : positions)
                    {
                        SCOPED_TRACE (juce::String ("tempo ") + juce::String (tempo) + " at " + juce::String (position));
                        setParameter (*p, "waveform", (float) shape);
                        setParameter (*p, "figure", (float) figure);
                        playHead.position = playingAt (tempo, position);
                        auto buffer = noise (2, 64);
                        process (*p, buffer);
                        ASSERT_TRUE (allFinite (buffer)) << "phases " << p->lfoPhase[0] << ", " << p->lfoPhase[1];
                    }

        // A phase that is not finite (the members are public) is mended at the next block.
        p->lfoPhase[0] = (float) nan;
        p->lfoPhase[1] = (float) -infinity;
        auto mended = noise (2, 64);
        process (*p, mended);
        ASSERT_TRUE (allFinite (mended));

        // A sane host again: the LFO runs like one that never saw any of this.
        p->setPlayHead (nullptr);
        p->prepareToPlay (48000.0, 64);
        auto fresh = preparedProcessor (48000.0, 64);
        setParameter (*fresh, "rate", 10.0f);
        setParameter (*fresh, "depth", 1.0f);
        setParameter (*fresh, "waveform", (float) shapes[std::size (shapes) - 1]);
        fresh->prepareToPlay (48000.0, 64);
        fresh->lfoPhase[0] = p->lfoPhase[0];
        fresh->lfoPhase[1] = p->lfoPhase[1];

        auto recovered = noise (2, 480, 5);
        auto expected = recovered;
        process (*p, recovered);
        process (*fresh, expected);
        EXPECT_LT (maxDifference (recovered, expected), 1e-5f);
        EXPECT_GT (recovered.getMagnitude (0, 0, 480), 0.1f);
    }
}
