#include "QuilloApp.h"
#include "QuilloAudioProcessor.h"
#include "SettingsGuard.h"
#include "PrivateXvfb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

// JUCE's own step of the Linux message loop; the test drives the loop itself
// because modal loops (runDispatchLoopUntil) are compiled out.
namespace juce { bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages); }

juce::JUCEApplicationBase* juce_CreateApplication();

namespace
{
    //==============================================================================
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

            ASSERT_TRUE (xvfb.startIfNeeded()) << "could not start Xvfb";

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

    juce::File settingsFile()
    {
        return juce::File ("~/.Quillo/Quillo.settings");
    }

    /** Counts the quit requests, the retries from the 100 ms timer included. */
    struct CountingApp : public QuilloApp
    {
        void systemRequestedQuit() override
        {
            ++quitRequests;
            QuilloApp::systemRequestedQuit();
        }

        int quitRequests = 0;
    };

    juce::DialogWindow* findSettingsDialog()
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* dialog = dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)))
                if (dialog->getName() == "Audio/MIDI Settings" && dialog->isVisible())
                    return dialog;

        return nullptr;
    }

    bool settingsDialogIsUp()
    {
        return findSettingsDialog() != nullptr && juce::ModalComponentManager::getInstance()->getNumModalComponents() > 0;
    }

    /** Runs the message loop until the condition holds or a generous time-out passes. */
    template <typename Condition>
    bool pumpUntil (Condition condition)
    {
        for (int i = 0; i < 1000 && ! condition(); ++i)
        {
            while (juce::dispatchNextMessageOnSystemQueue (true) && ! condition())
                ;

            juce::Thread::sleep (5);
        }

        return condition();
    }

    //==============================================================================
    /** Every test gets JUCE's GUI support anew (a quit, once dispatched, stops
        the message manager for good) and starts without a settings file. */
    class QuilloAppTest : public ::testing::Test
    {
    protected:
        QuilloAppTest()
        {
            settingsFile().getParentDirectory().deleteRecursively();
        }

        void startApp()
        {
            app = std::make_unique<CountingApp>();
            app->initialise ({});
            ASSERT_NE (app->getMainWindow(), nullptr);
        }

        void TearDown() override
        {
            if (app != nullptr)
            {
                juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
                pumpUntil ([] { return findSettingsDialog() == nullptr; });
                app->shutdown();
                app = nullptr;
            }
        }

        juce::ScopedJuceInitialiser_GUI juceGui;
        std::unique_ptr<CountingApp> app;
    };
}

//==============================================================================
TEST_F (QuilloAppTest, NamesItselfAndKeepsSettingsInTheHomeFolder)
{
    CountingApp application;

    EXPECT_EQ (application.getApplicationName(), "Quillo");
    EXPECT_EQ (application.getApplicationVersion(), "1.1.2");
    EXPECT_TRUE (application.moreThanOneInstanceAllowed());

    const auto& options = application.getApplicationProperties().getStorageParameters();
    EXPECT_EQ (options.getDefaultFile(), settingsFile());
    EXPECT_EQ (options.millisecondsBeforeSaving, 3000);
    EXPECT_EQ (options.storageFormat, juce::PropertiesFile::storeAsXML);
    EXPECT_FALSE (options.commonToAllUsers);
    EXPECT_EQ (options.processLock, nullptr);

    // Constructing opens nothing.
    EXPECT_FALSE (settingsFile().getParentDirectory().exists());
}

TEST_F (QuilloAppTest, MenuHasOneOptionsMenuWithOneItem)
{
    CountingApp application;

    EXPECT_EQ (application.getMenuBarNames(), juce::StringArray ("Options"));

    for (const auto* name : { "Options", "", "Anything" })
    {
        const auto menu = application.getMenuForIndex (0, name);
        juce::PopupMenu::MenuItemIterator items (menu);
        ASSERT_TRUE (items.next()) << name;
        const auto& item = items.getItem();
        EXPECT_EQ (item.itemID, 1);
        EXPECT_EQ (item.text, "Audio / MIDI Options");
        EXPECT_TRUE (item.isEnabled);
        EXPECT_FALSE (item.isTicked);
        EXPECT_EQ (item.subMenu, nullptr);
        EXPECT_FALSE (items.next()) << name;
    }

    for (const auto index : { -1, 1, 2, 100 })
        EXPECT_EQ (application.getMenuForIndex (index, "Options").getNumItems(), 0) << index;
}

TEST_F (QuilloAppTest, WindowKeepsTheEditorSizeBelowItsMenuBar)
{
    startApp();
    auto& window = *app->getMainWindow();

    EXPECT_TRUE (window.isVisible());
    EXPECT_EQ (window.getName(), "Quillo");
    EXPECT_TRUE (window.isUsingNativeTitleBar());

    auto* menuBar = window.getMenuBarComponent();
    ASSERT_NE (menuBar, nullptr);
    EXPECT_EQ (menuBar->getY(), 0);
    EXPECT_EQ (menuBar->getHeight(), window.getLookAndFeel().getDefaultMenuBarHeight());

    auto* content = window.getContentComponent();
    ASSERT_NE (content, nullptr);
    EXPECT_EQ (content->getY(), menuBar->getBottom());
    EXPECT_EQ (window.getHeight(), menuBar->getHeight() + content->getHeight());
    EXPECT_EQ (window.getWidth(), content->getWidth());

    // The editor has the size it gives itself, as in any other host.
    auto* editor = window.getAudioProcessor()->getActiveEditor();
    ASSERT_NE (editor, nullptr);
    QuilloAudioProcessor reference;
    const std::unique_ptr<juce::AudioProcessorEditor> referenceEditor (reference.createEditorIfNeeded());
    EXPECT_EQ (editor->getWidth(), referenceEditor->getWidth());
    EXPECT_EQ (editor->getHeight(), referenceEditor->getHeight());
    EXPECT_EQ (editor->getBottom(), content->getHeight());

    // Nothing has been written yet, so there is no file either.
    EXPECT_FALSE (settingsFile().exists());
}

TEST_F (QuilloAppTest, OnlyTheAudioMidiItemPrintsAndOpensTheSettingsDialog)
{
    startApp();

    struct Case { int itemId, menuIndex; bool acts; };

    for (const auto& c : { Case { 0, 0, false }, Case { 2, 0, false }, Case { -1, 0, false },
                           Case { 2, 1, false }, Case { 1, 3, true } })
    {
        ::testing::internal::CaptureStdout();
        app->menuItemSelected (c.itemId, c.menuIndex);
        const auto printed = ::testing::internal::GetCapturedStdout();

        EXPECT_EQ (printed, c.acts ? "Audio/MIDI Options Clicked\n" : "") << c.itemId;
        EXPECT_EQ (settingsDialogIsUp(), c.acts) << c.itemId;
    }
}

TEST_F (QuilloAppTest, QuitRequestWithNothingOpenQuitsAtOnce)
{
    startApp();

    app->systemRequestedQuit();

    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (app->quitRequests, 1);
}

TEST_F (QuilloAppTest, QuitRequestClosesTheSettingsDialogFirst)
{
    startApp();
    app->menuItemSelected (1, 0);
    ASSERT_TRUE (settingsDialogIsUp());

    app->systemRequestedQuit();

    // The dialog is only being dismissed; quitting waits for the next check.
    EXPECT_FALSE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);

    ASSERT_TRUE (pumpUntil ([] { return juce::MessageManager::getInstance()->hasStopMessageBeenSent(); }));
    EXPECT_EQ (app->quitRequests, 2);
    EXPECT_EQ (findSettingsDialog(), nullptr);
}

namespace
{
    int numDialogsOnTheDesktop()
    {
        auto& desktop = juce::Desktop::getInstance();
        int count = 0;

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            count += dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)) != nullptr ? 1 : 0;

        return count;
    }

    bool quitHasBeenRequested()
    {
        return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
    }
}

// Ctrl+C and the window's close button quit without dismissing the settings
// dialog, and the framework deletes what is left of it after shutdown: by then
// the device manager it shows must not be gone already.
TEST_F (QuilloAppTest, QuitsThatLeaveTheSettingsDialogOpenDeleteItBeforeTheWindow)
{
    struct Case { const char* what; std::function<void (QuilloApp&)> quit; bool storesEffectState; };

    // Ctrl+C last: JUCE never forgets that it came, and quits again at every
    // message it dispatches from then on.
    const Case cases[] = {
        { "close button", [] (QuilloApp& a) { a.getMainWindow()->closeButtonPressed(); }, true },
        { "Ctrl+C", [] (QuilloApp&) { std::raise (SIGINT); }, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        settingsFile().getParentDirectory().deleteRecursively();
        startApp();
        app->menuItemSelected (1, 0);
        ASSERT_TRUE (settingsDialogIsUp());

        c.quit (*app);
        ASSERT_TRUE (pumpUntil (quitHasBeenRequested));
        EXPECT_EQ (app->quitRequests, 0);

        app->shutdown();
        EXPECT_EQ (numDialogsOnTheDesktop(), 0);
        EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
        app = nullptr;

        juce::PropertiesFile saved (settingsFile(), {});
        EXPECT_TRUE (saved.containsKey ("windowX"));
        EXPECT_TRUE (saved.containsKey ("audioSetup"));
        EXPECT_EQ (saved.containsKey ("filterState"), c.storesEffectState);
    }
}

// SIGTERM (a logout, a plain kill) is the platform asking to quit: the same
// path as the system's quit request, dialogs dismissed first, and the same
// things saved. Without the handler the signal ends this test process.
TEST_F (QuilloAppTest, TerminationSignalQuitsLikeTheSystemRequest)
{
    startApp();
    app->getMainWindow()->setTopLeftPosition (50, 70);
    const auto position = app->getMainWindow()->getPosition();
    app->menuItemSelected (1, 0);
    ASSERT_TRUE (settingsDialogIsUp());

    ASSERT_EQ (std::raise (SIGTERM), 0);

    ASSERT_TRUE (pumpUntil (quitHasBeenRequested));
    EXPECT_EQ (app->quitRequests, 2);
    EXPECT_EQ (findSettingsDialog(), nullptr);

    app->shutdown();
    app = nullptr;

    juce::PropertiesFile saved (settingsFile(), {});
    EXPECT_EQ (saved.getIntValue ("windowX", -1), position.x);
    EXPECT_EQ (saved.getIntValue ("windowY", -1), position.y);
    EXPECT_TRUE (saved.containsKey ("audioSetup"));
    EXPECT_FALSE (saved.containsKey ("filterState"));

    // Once shut down, the signal has its default meaning again.
    struct sigaction current {};
    ASSERT_EQ (sigaction (SIGTERM, nullptr, &current), 0);
    EXPECT_EQ (current.sa_handler, SIG_DFL);
}

TEST_F (QuilloAppTest, ShutdownStoresWindowAndDevicesButNoEffectState)
{
    startApp();
    app->getMainWindow()->setTopLeftPosition (40, 60);
    const auto position = app->getMainWindow()->getPosition();

    app->shutdown();
    EXPECT_EQ (app->getMainWindow(), nullptr);

    const auto xml = juce::XmlDocument::parse (settingsFile());
    ASSERT_NE (xml, nullptr);
    juce::PropertiesFile::Options options;
    juce::PropertiesFile saved (settingsFile(), options);

    EXPECT_EQ (saved.getIntValue ("windowX", -1), position.x);
    EXPECT_EQ (saved.getIntValue ("windowY", -1), position.y);
    EXPECT_TRUE (saved.containsKey ("audioSetup"));
    EXPECT_EQ (saved.getValue ("shouldMuteInput"), "1");
    EXPECT_FALSE (saved.containsKey ("filterState"));

    app = nullptr;
}

//==============================================================================
namespace
{
    std::string nested (int depth)
    {
        std::string text;

        for (int i = 0; i < depth; ++i)
            text += "<a>";

        for (int i = 0; i < depth; ++i)
            text += "</a>";

        return text;
    }
}

TEST (SettingsGuard, AcceptsSettingsAndRejectsWhatTheParserCannotTake)
{
    struct Case { const char* what; std::string text; bool safe; };

    const Case cases[] = {
        { "settings file", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PROPERTIES>\n  <VALUE name=\"windowX\" val=\"1\"/>\n</PROPERTIES>\n", true },
        { "not XML at all", "just some text", true },
        { "multi-byte text", "<a b=\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb5\"/>", true },
        { "nesting at the limit", nested (settingsguard::maxDepth), true },
        { "nesting past the limit", nested (settingsguard::maxDepth + 1), false },
        { "deep nesting", nested (30000), false },
        { "unclosed elements", std::string (100, '<') , false },
        { "bad byte after <?", "<?\xff", false },
        { "truncated sequence", "<a>\xe2\x82", false },
        { "overlong slash", "<a\xc0\xaf>", false },
        { "surrogate", "<a>\xed\xa0\x80</a>", false },
        { "past U+10FFFF", "<a>\xf4\x90\x80\x80</a>", false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (settingsguard::isSafeToParse (c.text.data(), c.text.size()), c.safe) << c.what;
}

TEST_F (QuilloAppTest, StartsOverHostileSettingsAndKeepsTheFileAside)
{
    struct Case { const char* what; std::string content; bool setAside; };

    std::string deepSetup;

    for (const auto c : nested (30000))
        deepSetup += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string (1, c);

    const Case cases[] = {
        { "deeply nested file", "<?xml version=\"1.0\"?><PROPERTIES>" + nested (30000) + "</PROPERTIES>", true },
        { "bad UTF-8 after <?", "<?\xff\xfe", true },
        { "deeply nested device set-up", "<PROPERTIES><VALUE name=\"audioSetup\" val=\"" + deepSetup + "\"/><VALUE name=\"keep\" val=\"me\"/></PROPERTIES>", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        settingsFile().getParentDirectory().deleteRecursively();
        ASSERT_TRUE (settingsFile().create());
        ASSERT_TRUE (settingsFile().replaceWithData (c.content.data(), c.content.size()));

        startApp();
        app->shutdown();
        app = nullptr;

        const auto aside = settingsFile().getSiblingFile ("Quillo.settings.bad");
        EXPECT_EQ (aside.existsAsFile(), c.setAside);

        if (c.setAside)
        {
            juce::MemoryBlock keptAside;
            ASSERT_TRUE (aside.loadFileAsData (keptAside));
            EXPECT_EQ (keptAside.toString().length(), juce::String::fromUTF8 (c.content.data(), (int) c.content.size()).length());
            EXPECT_EQ (keptAside, juce::MemoryBlock (c.content.data(), c.content.size()));
        }

        juce::PropertiesFile saved (settingsFile(), {});
        EXPECT_TRUE (saved.isValidFile());
        EXPECT_TRUE (settingsguard::isSafeToParse (saved.getValue ("audioSetup")));

        if (! c.setAside)
        {
            EXPECT_EQ (saved.getValue ("keep"), "me");
        }
    }
}
