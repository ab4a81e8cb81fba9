#include "CountingAllocator.h"
#include "TestHelpers.h"

using namespace testing_support;
using W = QuilloAudioProcessor::Waveform;

TEST (RealTimeSafety, ProcessBlockAllocatesNothing)
{
    FakePlayHead playHead;
    playHead.position = playingAt (128.0, 123456);

    for (auto shape : { W::Sine, W::Square, W::Saw, W::Triangle })
        for (auto synced : { false, true })
            for (auto withPlayHead : { false, true })
            {
                auto p = preparedProcessor (48000.0, 512);
                setParameter (*p, "waveform", (float) shape);
                setParameter (*p, "sync", synced ? 1.0f : 0.0f);
                p->setPlayHead (withPlayHead ? &playHead : nullptr);

                auto buffer = noise (2, 512);
                juce::MidiBuffer midi;

                // A parameter change between blocks starts the depth and rate ramps too.
                setParameter (*p, "depth", 0.9f);
                setParameter (*p, "rate", 9.0f);

                const auto allocations = countAllocations ([&] {
                    for (int block = 0; block < 50; ++block)
                        p->processBlock (buffer, midi);
                });

                EXPECT_EQ (allocations, 0)
                    << "shape " << shape << " synced " << synced << " play head " << withPlayHead;
            }
}

TEST (RealTimeSafety, TheCounterSeesAllocations)
{
    juce::String* made = nullptr;
    EXPECT_GT (countAllocations ([&] { made = new juce::String ("allocates"); }), 0);
    delete made;
}
