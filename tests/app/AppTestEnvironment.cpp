#include "AppTestSupport.h"
#include "PrivateXvfb.h"

#include <cstdlib>
#include <unistd.h>

juce::JUCEApplicationBase* juce_CreateApplication();

namespace
{
    /** A private home folder, no JACK server (so no audio device), and an X
        display: the one given in DISPLAY, or an Xvfb of our own. */
    class AppEnvironment : public ::testing::Environment
    {
    public:
        void SetUp() override
        {
            char home[] = "/tmp/quillo-app-tests-XXXXXX";
            ASSERT_NE (mkdtemp (home), nullptr);
            homeFolder = home;
            setenv ("HOME", home, 1);
            setenv ("JACK_DEFAULT_SERVER", ("quillo-app-tests-none-" + std::to_string (getpid())).c_str(), 1);
            setenv ("JACK_NO_START_SERVER", "1", 1);

            ASSERT_TRUE (xvfb.start()) << xvfb.failure();

            // As in the real program: JUCE then treats this process as a
            // standalone application (X error handlers, thread support).
            juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
        }

        void TearDown() override
        {
            xvfb.stop();
            juce::File (homeFolder).deleteRecursively();
        }

    private:
        juce::String homeFolder;
        testing_support::PrivateXvfb xvfb;
    };

    [[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment (new AppEnvironment);
}
