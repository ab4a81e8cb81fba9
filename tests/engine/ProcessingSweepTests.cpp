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
