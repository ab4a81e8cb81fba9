#include "TestHelpers.h"

#include <thread>

using namespace testing_support;

// Run under ThreadSanitizer: the audio thread processes blocks without pause while
// this thread changes every parameter through the tree, saves and restores state,
// and reads what the curve display reads.
TEST (Concurrency, ParameterChangesAndDisplayReadsWhileAudioRuns)
{
    auto processor = preparedProcessor (48000.0, 256);
    std::atomic<bool> running { true };
    std::atomic<long> blocks { 0 };

    std::thread audio ([&] {
        auto buffer = noise (2, 256);
        juce::MidiBuffer midi;

        while (running.load())
        {
            processor->processBlock (buffer, midi);
            blocks.fetch_add (1);
        }
    });

    std::mt19937 random (11);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    auto& tree = processor->parametersManager.valueTreeState;

    for (int round = 0; round < 3000; ++round)
    {
        for (auto* raw : processor->getParameters())
            raw->setValueNotifyingHost (unit (random));

        const auto states = processor->getPublishedTremoloStates();

        for (const auto& state : states)
        {
            ASSERT_TRUE (std::isfinite (state.rate) && state.rate >= 0.0f && state.rate <= 10.0f);
            ASSERT_TRUE (state.depth >= 0.0f && state.depth <= 1.0f);
            ASSERT_TRUE (state.waveform >= 0 && state.waveform <= 3);
        }

        const auto limit = processor->limitParameter.getTargetValue();
        const auto smoothing = processor->smoothingParameter.getTargetValue();
        const auto offset = processor->offsetLParameter.getTargetValue() + processor->offsetRParameter.getTargetValue();
        const auto v = QuilloAudioProcessor::lfoShape (offset, states[0].waveform, limit, smoothing);
        ASSERT_TRUE (v >= 0.0f && v <= 1.0f);

        if (round % 100 == 0)
        {
            const auto block = stateOf (*processor);
            processor->setStateInformation (block.getData(), (int) block.getSize());
        }
    }

    // Let the audio thread get through a few blocks before stopping, so the test saw real overlap.
    while (blocks.load() < 100)
        std::this_thread::yield();

    running = false;
    audio.join();
    juce::ignoreUnused (tree);
}

// Both groups' states of one block share the tempo the play head gave that
// block, so a snapshot whose two rates differ mixes two blocks. One-sample
// blocks publish as often as possible.
TEST (Concurrency, PublishedStatesAreAlwaysBothFromOneBlock)
{
    auto processor = preparedProcessor (48000.0, 1);
    setParameter (*processor, "sync", 1.0f);
    setParameter (*processor, "figure", 2.0f);   // rate = tempo / 60
    FakePlayHead playHead;
    processor->setPlayHead (&playHead);

    std::atomic<bool> running { true };
    std::atomic<long> blocks { 0 };

    std::thread audio ([&] {
        auto buffer = noise (2, 1);
        juce::MidiBuffer midi;

        for (juce::int64 block = 0; running.load (std::memory_order_relaxed); ++block)
        {
            playHead.position = playingAt (60.0 + (double) (block % 1000), block);
            processor->processBlock (buffer, midi);
            blocks.fetch_add (1, std::memory_order_relaxed);
        }
    });

    long mixed = 0, reads = 0;

    for (; blocks.load (std::memory_order_relaxed) < 300'000; ++reads)
    {
        const auto states = processor->getPublishedTremoloStates();
        mixed += states[0].rate != states[1].rate ? 1 : 0;
    }

    running = false;
    audio.join();
    EXPECT_EQ (mixed, 0) << "of " << reads << " reads over " << blocks.load() << " blocks";
}
