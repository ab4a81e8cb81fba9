// JUCE's GUI for the whole test process: initialised once before the first
// test and shut down after the last, as an application would. Painting into
// images needs no X server, but parts of JUCE reach for one, so the process
// brings its own, whatever DISPLAY says: nothing appears on the desktop of
// whoever runs the tests. Tests that put the editor in a window run it there.

#include "PrivateXvfb.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <memory>

namespace
{
    class GuiEnvironment : public ::testing::Environment
    {
    public:
        void SetUp() override
        {
            ASSERT_TRUE (xvfb.start()) << xvfb.failure();

            // Windows on a bare X server, without a window manager, make X
            // report errors for the manager's properties. JUCE ignores those in
            // an application but leaves them to Xlib, which ends the process,
            // anywhere else; so the tests count as an application, of none.
            juce::JUCEApplicationBase::createInstance = []() -> juce::JUCEApplicationBase* { return nullptr; };
            gui = std::make_unique<juce::ScopedJuceInitialiser_GUI>();
        }

        void TearDown() override
        {
            gui.reset();
            xvfb.stop();
        }

    private:
        std::unique_ptr<juce::ScopedJuceInitialiser_GUI> gui;
        testing_support::PrivateXvfb xvfb;
    };

    [[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new GuiEnvironment);
}
