#include "CountingAllocator.h"
#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{
    using namespace editor_testing;

    /** Heap allocations made on a host's thread by that many changes of one parameter. */
    long allocationsOfChangesFromAnotherThread (QuilloAudioProcessor& processor, const char* id, int changes, float top)
    {
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);
        const auto on = parameter->convertTo0to1 (top);
        long allocations = -1;

        std::thread host ([&] {
            allocations = testing_support::countAllocations ([&] {
                for (int i = 0; i < changes; ++i)
                    parameter->setValueNotifyingHost (i % 2 == 0 ? on : 0.0f);
            });
        });

        host.join();
        return allocations;
    }

    TEST (EditorRealTimeSafety, HostAutomationOfSyncAndWaveformAllocatesNothingOnItsThread)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);

        // Each knob's framework attachment posts one message per delivery into
        // the framework's queue; one round, delivered, gives that queue room.
        allocationsOfChangesFromAnotherThread (processor, "sync", 2, 1.0f);
        allocationsOfChangesFromAnotherThread (processor, "waveform", 2, 1.0f);
        dispatchPendingMessages();

        EXPECT_EQ (allocationsOfChangesFromAnotherThread (processor, "sync", 100, 1.0f), 0);
        EXPECT_EQ (allocationsOfChangesFromAnotherThread (processor, "waveform", 100, 3.0f), 0);

        // The counter does see allocations.
        EXPECT_GT (testing_support::countAllocations ([] { delete new juce::String ("allocates"); }), 0);
    }
}
