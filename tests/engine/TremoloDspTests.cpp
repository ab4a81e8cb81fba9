#include "ReferenceTremolo.h"
#include "TestHelpers.h"

#include <cstring>

using namespace testing_support;
using W = QuilloAudioProcessor::Waveform;

TEST (Lfo, ShapesAtKnownPhases)
{
    QuilloAudioProcessor processor;
    setParameter (processor, "smoothing", 0.25f);

    struct Case
    {
        W shape;
        float phase;
        float expected;
    };
    const Case cases[] {
        { W::Sine, 0.0f, 0.5f },
        { W::Sine, 0.25f, 1.0f },
        { W::Sine, 0.75f, 0.0f },
        { W::Triangle, 0.0f, 0.5f },
        { W::Triangle, 0.125f, 0.75f },
        { W::Triangle, 0.5f, 0.5f },
        { W::Triangle, 0.875f, 0.25f },
        { W::Saw, 0.0f, 0.5f },
        { W::Saw, 0.125f, 0.625f },
        { W::Saw, 0.375f, 0.5f },
        { W::Saw, 0.5f, 0.0f },
        { W::Saw, 0.75f, 0.25f },
        { W::Square, 0.125f, 1.0f },
        { W::Square, 0.375f, 0.5f },
        { W::Square, 0.5f, 0.0f },
        { W::Square, 0.625f, 0.0f },
        { W::Square, 0.875f, 0.5f },
        { (W) 4, 0.3f, 0.0f },
        { (W) -1, 0.3f, 0.0f },
    };

    for (const auto& c : cases)
    {
        EXPECT_NEAR (processor.lfo (c.phase, c.shape), c.expected, 1e-6f) << "shape " << c.shape << " phase " << c.phase;
        EXPECT_NEAR (QuilloAudioProcessor::lfoShape (c.phase, c.shape, 0.5f, 0.25f), c.expected, 1e-6f);
    }

    for (auto shape : { W::Square, W::Saw, W::Triangle })
        EXPECT_EQ (processor.lfo (1.125f, shape), processor.lfo (0.125f, shape)) << shape;

    EXPECT_NEAR (processor.lfo (1.125f, W::Sine), processor.lfo (0.125f, W::Sine), 1e-6f);
}

TEST (Lfo, StaysWithinZeroAndOneEverywhere)
{
    for (auto shape : { W::Sine, W::Square, W::Saw, W::Triangle })
        for (auto limit : { 0.0f, 0.01f, 0.5f, 0.99f, 1.0f })
            for (auto smoothing : { 0.02f, 0.25f, 0.5f })
                for (int k = 0; k <= 2000; ++k)
                {
                    const auto v = QuilloAudioProcessor::lfoShape ((float) k / 1000.0f, shape, limit, smoothing);
                    ASSERT_GE (v, 0.0f);
                    ASSERT_LE (v, 1.0f);
                }
}

TEST (Lfo, StepsLimitEveryCallEvenForAnUnknownShape)
{
    QuilloAudioProcessor processor;
    processor.limitParameter.reset (1000.0, 0.01);   // a ramp of 10 steps, only to watch the reads
    processor.limitParameter.parameterChanged ("limit", 1.0f);
    processor.lfo (0.3f, (W) 4);
    EXPECT_EQ (processor.limitParameter.getRampCountdown(), 9);
    processor.lfo (0.3f, W::Sine);
    EXPECT_EQ (processor.limitParameter.getRampCountdown(), 8);
}

//==============================================================================
struct ProcessCase
{
    float dry, wet, depth;
    W shape;
    float phase;   // start phase of both groups
    float expectedGain;
};

TEST (ProcessBlock, MixesDryAndModulatedSignal)
{
    const ProcessCase cases[] {
        { 0.0f, 1.0f, 1.0f, W::Sine, 0.25f, 1.0f },
        { 0.0f, 1.0f, 1.0f, W::Sine, 0.75f, 0.0f },
        { 0.0f, 1.0f, 0.0f, W::Sine, 0.75f, 1.0f },   // depth 0: x * dry + x * wet
        { 0.5f, 0.25f, 0.0f, W::Square, 0.6f, 0.75f },
        { 1.0f, 1.0f, 1.0f, W::Sine, 0.75f, 1.0f },   // dry passes, wet silenced
        { 0.3f, 0.5f, 0.5f, W::Sine, 0.0f, 0.3f + 0.5f * (0.5f * 0.5f + 0.5f) },
    };

    for (const auto& c : cases)
    {
        auto processor = preparedProcessor (48000.0, 1);
        setParameter (*processor, "dry", c.dry);
        setParameter (*processor, "wet", c.wet);
        setParameter (*processor, "depth", c.depth);
        setParameter (*processor, "rate", 0.0f);
        setParameter (*processor, "waveform", (float) c.shape);
        processor->prepareToPlay (48000.0, 1);   // jump to the new depth and rate
        processor->lfoPhase[0] = processor->lfoPhase[1] = c.phase;

        auto buffer = constant (2, 8, 0.8f);
        process (*processor, buffer);

        for (int ch = 0; ch < 2; ++ch)
            for (int i = 0; i < 8; ++i)
                ASSERT_NEAR (buffer.getSample (ch, i), 0.8f * c.expectedGain, 1e-5f) << "dry " << c.dry << " depth " << c.depth;

        // Rate 0: the phase stands still.
        EXPECT_NEAR (processor->lfoPhase[0], c.phase, 1e-6f);
    }
}

TEST (ProcessBlock, ChannelGroupsOffsetsAndSilentExtraOutputs)
{
    auto processor = preparedProcessor (48000.0, 64);
    setParameter (*processor, "depth", 1.0f);
    setParameter (*processor, "rate", 0.0f);
    setParameter (*processor, "offsetr", 0.5f);
    processor->prepareToPlay (48000.0, 64);
    processor->lfoPhase[0] = processor->lfoPhase[1] = 0.25f;

    auto buffer = constant (2, 16);
    process (*processor, buffer);

    EXPECT_NEAR (buffer.getSample (0, 5), 1.0f, 1e-6f);   // left at phase 0.25
    EXPECT_NEAR (buffer.getSample (1, 5), 0.0f, 1e-6f);   // right at 0.75
    EXPECT_NEAR (processor->lfoPhase[1], 0.25f, 1e-6f);   // stored without the offset

    // "Offset L" 1.0 sounds like 0.0: the start phase wraps.
    setParameter (*processor, "offsetl", 1.0f);
    auto wrapped = constant (2, 16);
    process (*processor, wrapped);
    EXPECT_NEAR (wrapped.getSample (0, 3), 1.0f, 1e-6f);

    // A mono layout: only the left LFO; the right phase follows the left one.
    auto mono = std::make_unique<QuilloAudioProcessor>();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (juce::AudioChannelSet::mono());
    layout.outputBuses.add (juce::AudioChannelSet::mono());
    ASSERT_TRUE (mono->setBusesLayout (layout));
    mono->prepareToPlay (48000.0, 64);
    setParameter (*mono, "offsetr", 0.25f);
    setParameter (*mono, "offsetl", 0.1f);

    auto one = constant (1, 100);
    process (*mono, one);
    const auto leftFinal = mono->lfoPhase[0] + 0.1f;
    EXPECT_NEAR (mono->lfoPhase[1], leftFinal - 0.25f, 1e-6f);

    // Outputs beyond the inputs come out silent. Our own rule refuses mono into stereo, so
    // a processor that accepts it stands in for a host that forces such a layout.
    struct AnyLayout : public QuilloAudioProcessor
    {
        bool isBusesLayoutSupported (const BusesLayout&) const override { return true; }
    };

    AnyLayout wide;
    juce::AudioProcessor::BusesLayout wideLayout;
    wideLayout.inputBuses.add (juce::AudioChannelSet::mono());
    wideLayout.outputBuses.add (juce::AudioChannelSet::stereo());
    ASSERT_TRUE (wide.setBusesLayout (wideLayout));
    wide.prepareToPlay (48000.0, 64);
    auto twoChannels = constant (2, 32);
    process (wide, twoChannels);
    EXPECT_EQ (twoChannels.getMagnitude (1, 0, 32), 0.0f);
    EXPECT_GT (twoChannels.getMagnitude (0, 0, 32), 0.0f);
}

TEST (ProcessBlock, EmptyBlockAndLoweredOffsetFollowTheStoredPhase)
{
    auto processor = preparedProcessor();
    setParameter (*processor, "offsetl", 0.75f);
    processor->lfoPhase[0] = 0.5f;   // start 0.5 + 0.75 wraps to 0.25

    juce::AudioBuffer<float> empty (2, 0);
    process (*processor, empty);
    EXPECT_FLOAT_EQ (processor->lfoPhase[0], 0.25f - 0.75f);

    // Next block with "Offset L" 0.25 starts at -0.5 + 0.25 + 1 = 0.75: the LFO does not move.
    setParameter (*processor, "offsetl", 0.25f);
    setParameter (*processor, "rate", 0.0f);
    setParameter (*processor, "depth", 1.0f);
    processor->prepareToPlay (48000.0, 512);
    auto buffer = constant (2, 4);
    process (*processor, buffer);
    EXPECT_NEAR (buffer.getSample (0, 0), 0.0f, 1e-6f);   // sine at 0.75
}

TEST (ProcessBlock, DepthAndRateRampOverHalfAsManyBlocksAsStepsWithRightGroupAhead)
{
    struct Ramp
    {
        const char* id;
        float target;
        float QuilloAudioProcessor::TremoloState::*field;
    };

    for (auto [id, target, field] : { Ramp { "depth", 1.0f, &QuilloAudioProcessor::TremoloState::depth },
                                      Ramp { "rate", 5.5f, &QuilloAudioProcessor::TremoloState::rate } })
    {
        SCOPED_TRACE (id);
        auto processor = preparedProcessor (44100.0, 32);
        auto buffer = constant (2, 32);
        process (*processor, buffer);

        // Both start from 0.5; 44 steps at 44100 Hz, two per block.
        const auto start = processor->tremoloStates[0].*field;
        ASSERT_EQ (start, 0.5f);
        setParameter (*processor, id, target);
        const auto step = (target - start) / 44.0f;

        for (int block = 0; block < 22; ++block)
        {
            auto b = constant (2, 32);
            process (*processor, b);
            ASSERT_NEAR (processor->tremoloStates[0].*field, start + step * (float) (2 * block + 1), 1e-4f) << block;
            ASSERT_NEAR (processor->tremoloStates[1].*field, start + step * (float) (2 * block + 2), 1e-4f) << block;
        }

        EXPECT_EQ (processor->tremoloStates[1].*field, target);
        auto after = constant (2, 7);
        process (*processor, after);
        EXPECT_EQ (processor->tremoloStates[0].*field, target);
    }
}

TEST (ProcessBlock, LeftAndRightStayInPhaseAfterRateRamps)
{
    // During a ramp the right group runs one "Rate" step ahead of the left one;
    // with equal offsets the two must still sound alike once the ramps are over,
    // at any block size.
    for (int blockSize : { 1, 7, 64, 512, 4096 })
    {
        SCOPED_TRACE (juce::String ("block size ") + juce::String (blockSize));
        auto processor = preparedProcessor (48000.0, blockSize);
        setParameter (*processor, "depth", 1.0f);
        setParameter (*processor, "offsetl", 0.3f);
        setParameter (*processor, "offsetr", 0.3f);
        processor->prepareToPlay (48000.0, blockSize);

        for (auto rate : { 5.0f, 10.0f, 3.3f })
        {
            setParameter (*processor, "rate", rate);

            // 48 steps, two per block: the ramp is over after 24 blocks.
            for (int block = 0; block < 25; ++block)
            {
                auto ramp = constant (2, blockSize);
                process (*processor, ramp);
            }
        }

        ASSERT_NEAR (processor->tremoloStates[0].rate, 3.3f, 1e-6f);
        ASSERT_EQ (processor->tremoloStates[1].rate, processor->tremoloStates[0].rate);

        auto after = constant (2, 4096);
        processInBlocks (*processor, after, blockSize);

        float worst = 0.0f;
        for (int i = 0; i < after.getNumSamples(); ++i)
            worst = std::max (worst, std::abs (after.getSample (0, i) - after.getSample (1, i)));

        EXPECT_EQ (worst, 0.0f) << "left and right gains differ by up to " << worst;
        EXPECT_EQ (processor->lfoPhase[0], processor->lfoPhase[1]);
    }
}

TEST (ProcessBlock, FastPathMatchesThePerSampleDefinition)
{
    // 10240 samples at 48 kHz last 0.21 s: at 9.7 Hz both groups run through two
    // cycles and every Square and Saw edge, even at the default "Smoothing" of
    // 0.02 (an edge of about 100 samples). The definition accumulates its phase
    // in float, so it starts each block from the fast path's phase, and blocks
    // are short enough to keep its drift below the tolerance (the steeper the
    // edge, the shorter).
    struct Row
    {
        float rate, limit, smoothing;
        int blockSize;
    };

    for (auto shape : { W::Sine, W::Square, W::Saw, W::Triangle })
        for (auto [rate, limit, smoothing, blockSize] : { Row { 9.7f, 0.5f, 0.02f, 32 }, { 7.3f, 0.3f, 0.4f, 256 }, { 10.0f, 0.9f, 0.1f, 256 } })
        {
            SCOPED_TRACE (juce::String ("shape ") + juce::String ((int) shape) + " rate " + juce::String (rate));
            QuilloAudioProcessor fast, reference;

            for (auto* p : { &fast, &reference })
            {
                setParameter (*p, "waveform", (float) shape);
                setParameter (*p, "rate", rate);
                setParameter (*p, "depth", 0.8f);
                setParameter (*p, "dry", 0.2f);
                setParameter (*p, "limit", limit);
                setParameter (*p, "smoothing", smoothing);
                setParameter (*p, "offsetl", 0.1f);
                setParameter (*p, "offsetr", 0.6f);
                p->prepareToPlay (48000.0, blockSize);
            }

            for (int block = 0; block < 10240 / blockSize; ++block)
            {
                reference.lfoPhase[0] = fast.lfoPhase[0];
                reference.lfoPhase[1] = fast.lfoPhase[1];

                auto a = noise (2, blockSize, (unsigned) block);
                auto b = a;
                process (fast, a);
                processBlockPerSample (reference, b);
                ASSERT_LT (maxDifference (a, b), 1e-4f) << "block " << block;
                ASSERT_NEAR (fast.lfoPhase[0], reference.lfoPhase[0], 1e-4f);
                ASSERT_NEAR (fast.lfoPhase[1], reference.lfoPhase[1], 1e-4f);
            }
        }
}

TEST (ProcessBlock, SameBitsOnEveryProcessor)
{
    // The block path is compiled once per instruction set and one copy is chosen
    // at load time. Each copy must give exactly these bits: a compiler that fuses
    // a multiply and an add in one copy only (which AVX2 can and SSE2 cannot)
    // makes the same input sound different from one machine to the next. The
    // release build runs the AVX2 copy on a machine that has it, the sanitizer
    // builds run the baseline. After a deliberate change of the block path's
    // arithmetic, check it against FastPathMatchesThePerSampleDefinition first,
    // then store the new values printed here.
    const juce::uint64 expected[] { 0x7a0f4cd59e5fc192ull, 0x491cbc07537e85fbull, 0xe6002fc60313d9bcull, 0xfd3eee43c19801ull };

    for (auto shape : { W::Sine, W::Square, W::Saw, W::Triangle })
    {
        auto processor = preparedProcessor (48000.0, 4096);
        setParameter (*processor, "waveform", (float) shape);
        setParameter (*processor, "dry", 0.2f);
        setParameter (*processor, "limit", 0.3f);
        setParameter (*processor, "smoothing", 0.1f);
        setParameter (*processor, "offsetl", 0.1f);
        setParameter (*processor, "offsetr", 0.6f);
        setParameter (*processor, "depth", 0.8f);   // both ramp through the first blocks
        setParameter (*processor, "rate", 7.3f);

        juce::uint64 hash = 14695981039346656037ull;   // FNV-1a over every output sample's bits
        unsigned seed = 1;

        for (int blockSize : { 3, 64, 100, 1000, 4096, 4096 })
            for (int repeat = 0; repeat < 5; ++repeat)
            {
                auto buffer = noise (2, blockSize, seed++);
                process (*processor, buffer);

                for (int c = 0; c < 2; ++c)
                    for (int i = 0; i < blockSize; ++i)
                    {
                        juce::uint32 bits;
                        const auto sample = buffer.getSample (c, i);
                        std::memcpy (&bits, &sample, sizeof (bits));
                        hash = (hash ^ bits) * 1099511628211ull;
                    }
            }

        EXPECT_EQ (hash, expected[(int) shape]) << "shape " << (int) shape << ": 0x" << std::hex << hash << "ull";
    }
}

//==============================================================================
TEST (TempoSync, FollowsTheHostTempoAndTimeline)
{
    auto processor = preparedProcessor (48000.0, 256);
    FakePlayHead playHead;
    processor->setPlayHead (&playHead);

    setParameter (*processor, "sync", 1.0f);
    setParameter (*processor, "figure", 2.0f);   // "1/8": tempo / 60

    playHead.position = playingAt (120.0, 36000);
    auto state = processor->updateTremoloState (&playHead);
    EXPECT_FLOAT_EQ (state.rate, 2.0f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[0], 0.5f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[1], 0.5f);

    const float expectedRates[] { 120.0f / 240.0f, 1.0f, 2.0f, 4.0f, 8.0f, 16.0f };

    for (int figure = 0; figure < 6; ++figure)
    {
        setParameter (*processor, "figure", (float) figure);
        EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, expectedRates[figure]) << figure;
    }

    // Stopped host: the tempo rate applies, the phases run free.
    processor->lfoPhase[0] = processor->lfoPhase[1] = 0.1f;
    playHead.position = playingAt (120.0, 36000, false);
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 16.0f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[0], 0.1f);
}

TEST (TempoSync, ProcessBlockFollowsTheTimelineHoursIntoASong)
{
    // Through processBlock with the play head the host set. The gain of every
    // sample is the sine at the timeline's phase, P times the per-sample step
    // (the float product of sample period and rate). Between samples the gain
    // moves by 0.001 at most (16 Hz); a phase formed in float jumps by 0.007 at
    // block edges an hour in, and by 0.05 six hours in.
    constexpr juce::int64 hour = 3600 * 48000;
    constexpr double divisors[] { 240.0, 120.0, 60.0, 30.0, 15.0, 7.5 };
    struct Row
    {
        double bpm;
        int figure;
        juce::int64 start;
    };

    for (auto [bpm, figure, start] : { Row { 120.0, 2, 36000 }, { 120.0, 5, hour }, { 120.0, 5, 6 * hour }, { 97.3, 3, 6 * hour + 12345 } })
    {
        SCOPED_TRACE (juce::String (bpm) + " BPM, figure " + juce::String (figure) + ", sample " + juce::String (start));
        auto processor = preparedProcessor (48000.0, 512);
        FakePlayHead playHead;
        processor->setPlayHead (&playHead);
        setParameter (*processor, "sync", 1.0f);
        setParameter (*processor, "figure", (float) figure);
        setParameter (*processor, "depth", 1.0f);
        processor->prepareToPlay (48000.0, 512);

        const auto rate = (float) (bpm / divisors[figure]);
        const auto step = (double) ((float) (1.0 / 48000.0) * rate);

        for (int block = 0; block < 8; ++block)
        {
            const auto position = start + block * 512;
            playHead.position = playingAt (bpm, position);
            auto buffer = constant (2, 512);
            process (*processor, buffer);
            ASSERT_EQ (processor->tremoloStates[0].rate, rate);

            for (int i = 0; i < 512; ++i)
            {
                const auto phase = std::fmod ((double) (position + i) * step, 1.0);
                const auto expected = 0.5 + 0.5 * std::sin (juce::MathConstants<double>::twoPi * phase);
                ASSERT_NEAR (buffer.getSample (0, i), expected, 1e-5) << "block " << block << " sample " << i;
                ASSERT_NEAR (buffer.getSample (1, i), expected, 1e-5) << "block " << block << " sample " << i;
            }
        }
    }
}

TEST (TempoSync, TempoZeroStopsTheLfo)
{
    // A host that reports a tempo of 0 gets a standing LFO: rate 0, and while it
    // plays, both phases pinned to the timeline's phase 0.
    auto processor = preparedProcessor (48000.0, 256);
    FakePlayHead playHead;
    processor->setPlayHead (&playHead);
    setParameter (*processor, "sync", 1.0f);
    setParameter (*processor, "rate", 3.0f);
    setParameter (*processor, "depth", 1.0f);
    processor->prepareToPlay (48000.0, 256);
    processor->lfoPhase[0] = processor->lfoPhase[1] = 0.2f;

    for (auto position : { juce::int64 (36000), juce::int64 (36256) })
    {
        playHead.position = playingAt (0.0, position);
        auto buffer = constant (2, 256);
        process (*processor, buffer);

        EXPECT_EQ (processor->tremoloStates[0].rate, 0.0f);
        EXPECT_EQ (processor->tremoloStates[1].rate, 0.0f);
        EXPECT_EQ (processor->lfoPhase[0], 0.0f);
        EXPECT_EQ (processor->lfoPhase[1], 0.0f);
        for (int channel = 0; channel < 2; ++channel)
        {
            const auto range = buffer.findMinMax (channel, 0, 256);   // the sine at phase 0 throughout
            EXPECT_NEAR (range.getStart(), 0.5f, 1e-6f);
            EXPECT_NEAR (range.getEnd(), 0.5f, 1e-6f);
        }
    }
}

TEST (TempoSync, FallsBackToRateWithoutPlayHeadPositionOrTempo)
{
    auto processor = preparedProcessor (48000.0, 256);
    setParameter (*processor, "sync", 1.0f);
    setParameter (*processor, "rate", 3.0f);
    processor->prepareToPlay (48000.0, 256);
    processor->lfoPhase[0] = processor->lfoPhase[1] = 0.2f;

    EXPECT_FLOAT_EQ (processor->updateTremoloState (nullptr).rate, 3.0f);

    FakePlayHead playHead;   // reports no position at all
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 3.0f);

    juce::AudioPlayHead::PositionInfo noTempo;
    noTempo.setIsPlaying (true);
    noTempo.setTimeInSamples (1000);
    playHead.position = noTempo;
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 3.0f);

    playHead.position = playingAt (std::numeric_limits<double>::quiet_NaN(), 1000);
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 3.0f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[0], 0.2f);

    // A finite tempo whose rate overflows a float counts as no tempo.
    playHead.position = playingAt (1e300, 1000);
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 3.0f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[0], 0.2f);

    // Sync off: a play head is ignored.
    setParameter (*processor, "sync", 0.0f);
    playHead.position = playingAt (120.0, 36000);
    EXPECT_FLOAT_EQ (processor->updateTremoloState (&playHead).rate, 3.0f);
    EXPECT_FLOAT_EQ (processor->lfoPhase[1], 0.2f);
}
