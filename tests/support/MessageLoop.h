#pragma once

#include <juce_events/juce_events.h>

// JUCE's own step of the Linux message loop, internal to the framework. Modal
// loops are compiled out, so tests drive the queue themselves.
namespace juce
{
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace testing_support
{
    /** Dispatches messages until none is pending. */
    inline void dispatchPendingMessages()
    {
        while (juce::dispatchNextMessageOnSystemQueue (true))
        {
        }
    }

    /** A timer that only counts its callbacks: the tests' measure of how long
        the message loop has run, in place of a clock. */
    struct TickCounter : private juce::Timer
    {
        explicit TickCounter (int intervalMs) { startTimer (intervalMs); }
        ~TickCounter() override { stopTimer(); }

        void timerCallback() override { ++ticks; }

        int ticks = 0;
    };

    /** Runs the message loop until the condition holds or a 10 ms timer has
        ticked the given number of times. Returns the condition. */
    template <typename Condition>
    bool runMessageLoopUntil (Condition&& condition, int maxTicks = 300)
    {
        TickCounter clock (10);

        while (! condition() && clock.ticks < maxTicks)
            juce::dispatchNextMessageOnSystemQueue (false);

        return condition();
    }
}
