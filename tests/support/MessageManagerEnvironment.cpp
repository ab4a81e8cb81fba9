// The JUCE message manager for a whole test executable without a GUI: the
// parameter tree starts a timer, which needs one. No message loop runs. Every
// engine test executable compiles this file once, so no test depends on
// another file having registered it.

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

namespace
{
    class MessageManagerEnvironment : public ::testing::Environment
    {
    public:
        void SetUp() override { juce::MessageManager::getInstance(); }
        void TearDown() override
        {
            juce::MessageManager::deleteInstance();
            juce::DeletedAtShutdown::deleteAll();
        }
    };

    [[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new MessageManagerEnvironment);
}
