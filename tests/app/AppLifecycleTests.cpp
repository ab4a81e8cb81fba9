#include "AppTestSupport.h"
#include "QuilloAudioProcessor.h"

#include <csignal>
#include <functional>

using namespace app_tests;

namespace
{
    bool quitHasBeenRequested()
    {
        return juce::MessageManager::getInstance()->hasStopMessageBeenSent();
    }

    bool settingsDialogIsUp()
    {
        return findSettingsDialog() != nullptr && juce::ModalComponentManager::getInstance()->getNumModalComponents() > 0;
    }
}

//==============================================================================
TEST_F (AppTest, NamesItselfAndKeepsSettingsInTheHomeFolder)
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

TEST_F (AppTest, MenuHasOneOptionsMenuWithOneItem)
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

TEST_F (AppTest, WindowKeepsTheEditorSizeBelowItsMenuBar)
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

TEST_F (AppTest, OnlyTheAudioMidiItemPrintsAndOpensTheSettingsDialog)
{
    startApp();

    struct Case
    {
        int itemId, menuIndex;
        bool acts;
    };

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

TEST_F (AppTest, QuitRequestWithNothingOpenQuitsAtOnce)
{
    startApp();

    app->systemRequestedQuit();

    EXPECT_TRUE (juce::MessageManager::getInstance()->hasStopMessageBeenSent());
    EXPECT_EQ (app->quitRequests, 1);
}

TEST_F (AppTest, QuitRequestClosesTheSettingsDialogFirst)
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

// SIGTERM (a logout, a plain kill) is the platform asking to quit: the same
// path as the system's quit request, dialogs dismissed first, and the same
// things saved. Without the handler the signal ends this test process.
TEST_F (AppTest, TerminationSignalQuitsLikeTheSystemRequest)
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
    struct sigaction current = {};
    ASSERT_EQ (sigaction (SIGTERM, nullptr, &current), 0);
    EXPECT_EQ (current.sa_handler, SIG_DFL);
}

TEST_F (AppTest, ShutdownStoresWindowAndDevicesButNoEffectState)
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

}

// Ctrl+C and the window's close button quit without dismissing the settings
// dialog, and the framework deletes what is left of it after shutdown: by then
// the device manager it shows must not be gone already.
TEST_F (AppTest, QuitsThatLeaveTheSettingsDialogOpenDeleteItBeforeTheWindow)
{
    struct Case
    {
        const char* what;
        std::function<void (QuilloApp&)> quit;
        bool storesEffectState;
    };

    // Ctrl+C last: JUCE never forgets that it came, and quits again at every
    // message it dispatches from then on. So this test is the last one of the
    // program, too.
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
