#include "TestHelpers.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Every heap allocation in this executable goes through these, so a test can
// count what one call makes.
namespace
{
    std::atomic<long> allocationCount { 0 };
    thread_local bool counting = false;
}

void* operator new (std::size_t size)
{
    if (counting)
        allocationCount.fetch_add (1);

    if (auto* p = std::malloc (size == 0 ? 1 : size))
        return p;

    throw std::bad_alloc();
}

void* operator new[] (std::size_t size)                          { return operator new (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept
{
    if (counting)
        allocationCount.fetch_add (1);

    return std::malloc (size == 0 ? 1 : size);
}
void* operator new[] (std::size_t size, const std::nothrow_t& tag) noexcept { return operator new (size, tag); }
void operator delete (void* p) noexcept                           { std::free (p); }
void operator delete[] (void* p) noexcept                         { std::free (p); }
void operator delete (void* p, std::size_t) noexcept              { std::free (p); }
void operator delete[] (void* p, std::size_t) noexcept            { std::free (p); }

using namespace testing_support;
using W = QuilloAudioProcessor::Waveform;

static auto* const juceEnvironment = ::testing::AddGlobalTestEnvironment (new JuceEnvironment);

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

                counting = true;
                for (int block = 0; block < 50; ++block)
                    p->processBlock (buffer, midi);
                counting = false;

                EXPECT_EQ (allocationCount.exchange (0), 0)
                    << "shape " << shape << " synced " << synced << " play head " << withPlayHead;
            }
}

TEST (RealTimeSafety, TheCounterSeesAllocations)
{
    counting = true;
    auto* leaked = new juce::String ("allocates");
    counting = false;
    delete leaked;
    EXPECT_GT (allocationCount.exchange (0), 0);
}
