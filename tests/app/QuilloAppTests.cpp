#include "QuilloApp.h"
#include "QuilloAudioProcessor.h"
#include "SettingsGuard.h"
#include "MessageLoop.h"
#include "PrivateXvfb.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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
    struct Case
    {
        const char* what;
        std::function<void (QuilloApp&)> quit;
        bool storesEffectState;
    };

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
    struct sigaction current = {};
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
    std::string repeated (const std::string& piece, int times)
    {
        std::string text;

        for (int i = 0; i < times; ++i)
            text += piece;

        return text;
    }

    /** The effect state blob around some XML text. */
    std::string stateText (const std::string& xml)
    {
        juce::MemoryOutputStream out;
        out.writeInt (0x21324356);
        out.writeInt ((int) xml.size());
        out.write (xml.data(), xml.size());
        out.writeByte (0);
        return out.getMemoryBlock().toBase64Encoding().toStdString();
    }

    /** A hand-written settings file, not in JUCE's layout, with the value
        text as it stands in the attribute (escaped already). */
    std::string settingsWith (const std::string& key, const std::string& attributeText)
    {
        return "<PROPERTIES>\n<VALUE name=\"keep\" val=\"me\" />\n<VALUE name=\"" + key + "\" val=\"" + attributeText + "\" />\n</PROPERTIES>";
    }

    void writeSettings (const std::string& content)
    {
        settingsFile().getParentDirectory().deleteRecursively();
        ASSERT_TRUE (settingsFile().getParentDirectory().createDirectory());
        ASSERT_TRUE (settingsFile().replaceWithData (content.data(), content.size()));
    }

    juce::MemoryBlock contentOf (const juce::File& file)
    {
        juce::MemoryBlock content;
        file.loadFileAsData (content);
        return content;
    }

    bool hasDefaultParameters (juce::AudioProcessor& processor)
    {
        for (auto* parameter : processor.getParameters())
            if (parameter->getValue() != parameter->getDefaultValue())
                return false;

        return true;
    }

    const juce::File asideFile() { return settingsFile().getSiblingFile ("Quillo.settings.bad"); }
}

TEST (SettingsGuard, LeavesJuceOwnFilesAsTheyAreAndRewritesOthersKeepingTheValues)
{
    const juce::ScopedJuceInitialiser_GUI gui;
    const juce::TemporaryFile file (".settings");
    const auto deviceSetup = juce::parseXML ("<DEVICESETUP deviceType=\"JACK\" audioOutputDeviceName=\"a &amp; b\"><MIDIINPUT name=\"m\"/></DEVICESETUP>");
    ASSERT_NE (deviceSetup, nullptr);

    {
        juce::PropertiesFile written (file.getFile(), {});
        written.setValue ("audioSetup", deviceSetup.get());
        written.setValue ("filterState", juce::String (stateText ("<Quillo/>")));
        written.setValue ("windowX", 12);
        written.setValue ("path", "/a/b");
        ASSERT_TRUE (written.save());
    }

    const auto juceOwn = contentOf (file.getFile());
    ASSERT_EQ (settingsguard::ownForm (juceOwn.getData(), juceOwn.getSize()), juceOwn);
    ASSERT_EQ (settingsguard::prepare (file.getFile()), settingsguard::Outcome::ready);
    EXPECT_EQ (contentOf (file.getFile()), juceOwn);

    // The same values in a hand-written layout.
    // clang-format off
    const std::string loose = "<?xml version='1.0'?><PROPERTIES>\n<VALUE val='12' name='windowX'/><VALUE name='audioSetup'>"
                              + deviceSetup->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()).toStdString()
                              + "</VALUE><VALUE name='filterState' val='" + stateText ("<Quillo/>") + "'/>"
                              "<VALUE name='path' val='/a&lt;b&gt;/c'/><!-- a comment --><OTHER/></PROPERTIES>";
    // clang-format on
    ASSERT_TRUE (file.getFile().replaceWithText (loose));
    ASSERT_EQ (settingsguard::prepare (file.getFile()), settingsguard::Outcome::ready);

    juce::PropertiesFile reread (file.getFile(), {});
    EXPECT_EQ (reread.getIntValue ("windowX"), 12);
    EXPECT_EQ (reread.getValue ("filterState"), juce::String (stateText ("<Quillo/>")));
    ASSERT_NE (reread.getXmlValue ("audioSetup"), nullptr);
    EXPECT_TRUE (reread.getXmlValue ("audioSetup")->isEquivalentTo (deviceSetup.get(), false));

    // This value has a '<' without being XML, and JUCE's writer parses every
    // such value at every save, so it is not kept: every other one is.
    EXPECT_FALSE (reread.containsKey ("path"));
    EXPECT_EQ (reread.getAllProperties().size(), 3);

    // Rewritten in the form that is left alone from now on.
    const auto rewritten = contentOf (file.getFile());
    EXPECT_EQ (settingsguard::ownForm (rewritten.getData(), rewritten.getSize()), rewritten);
}

TEST (SettingsGuard, AcceptsOnlyAPlausibleMemoryBlockAsEffectState)
{
    struct Case
    {
        const char* text;
        bool accepted;
    };

    const juce::String largest = juce::MemoryBlock (settingsguard::maxStateBytes, true).toBase64Encoding();
    const juce::String tooLarge = juce::MemoryBlock (settingsguard::maxStateBytes + 1, true).toBase64Encoding();

    const Case cases[] = {
        { "0.", true },
        { "1.AB", true },   // six bits a character: one byte takes two
        { "1.A", false },
        { "3.ABCD", true },
        { "03.ABCD", true },   // the framework's reader takes a leading zero too
        { "3.ABC", false },
        { "3.ABCDE", false },
        { "-1.A", false },
        { "4294967295.A", false },
        { "99999999999999999999999.A", false },
        { "+3.ABCD", false },
        { " 3.ABCD", false },
        { "3.AB=D", false },
        { "3.AB\xc3\xa9", false },
        { ".A", false },
        { "3", false },
        { "", false },
    };

    for (const auto& c : cases)
        EXPECT_EQ (settingsguard::isMemoryBlockText (juce::String::fromUTF8 (c.text)), c.accepted) << c.text;

    EXPECT_TRUE (settingsguard::isMemoryBlockText (largest));
    EXPECT_FALSE (settingsguard::isMemoryBlockText (tooLarge));
}

TEST_F (QuilloAppTest, StartsOverEveryKindOfHostileSettings)
{
    // Start-up moves the file aside unchanged, or, when only one value in it is
    // hostile, keeps the file without that value (cleared for the device set-up).
    constexpr const char* setAside = nullptr;

    struct Case
    {
        const char* what;
        std::string content;
        const char* hostileKey;
    };

    // clang-format off
    const std::string slashNesting = repeated ("<a>/>", 40000);
    std::string escapedSlashNesting;

    for (const auto c : slashNesting)
        escapedSlashNesting += c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string (1, c);

    const Case cases[] = {
        { "'/>' nesting, 200 KB",                 "<PROPERTIES>" + slashNesting + "</PROPERTIES>", setAside },
        { "deep nesting",                          "<?xml version=\"1.0\"?><PROPERTIES>" + repeated ("<a>", 30000) + repeated ("</a>", 30000) + "</PROPERTIES>", setAside },
        { "processing instruction in the root",    "<PROPERTIES><?x?>y</PROPERTIES>", setAside },
        { "unterminated character reference",      "<PROPERTIES><VALUE name=\"keep\" val=\"me\"/>&#x", setAside },
        { "stray quote in a start tag",            "<PROPERTIES><VALUE name=\"keep\" \" val=\"me\"/></PROPERTIES>", setAside },
        { "duplicated attribute",                  "<PROPERTIES><VALUE name=\"keep\" val=\"me\" val=\"you\"/></PROPERTIES>", setAside },
        { "document type",                         "<!DOCTYPE PROPERTIES [<!ENTITY a \"aaaa\">]><PROPERTIES>&a;</PROPERTIES>", setAside },
        { "bad UTF-8 after '<?'",                  "<?\xff\xfe<PROPERTIES/>", setAside },
        { "not XML",                               "not <xml> at all", setAside },
        { "another root",                          "<SETTINGS><VALUE name=\"keep\" val=\"me\"/></SETTINGS>", setAside },
        { "JUCE's binary layout",                  std::string ("PROP\x01\0\0\0keep\0me\0", 16), setAside },
        { "over 1 MiB",                            "<PROPERTIES>" + std::string (settingsguard::maxFileBytes, ' ') + "</PROPERTIES>", setAside },
        { "over 1 MiB as JUCE would write it",     "<PROPERTIES><VALUE name='keep' val='" + std::string (200000, '"') + "'/></PROPERTIES>", setAside },
        { "'/>' nesting in the device set-up",     settingsWith ("audioSetup", escapedSlashNesting), "audioSetup" },
        { "device set-up 15 deep",                 settingsWith ("audioSetup", repeated ("&lt;a&gt;", 15) + repeated ("&lt;/a&gt;", 15)), "audioSetup" },
        { "'&#x' in the device set-up",            settingsWith ("audioSetup", "&lt;DEVICESETUP&gt;&amp;#x"), "audioSetup" },
        { "'<?' in the device set-up element",     "<PROPERTIES><VALUE name=\"keep\" val=\"me\"/><VALUE name=\"audioSetup\"><DEVICESETUP><?x?>y</DEVICESETUP></VALUE></PROPERTIES>", setAside },
        { "device set-up of text before elements", "<PROPERTIES><VALUE name=\"keep\" val=\"me\"/><VALUE name=\"audioSetup\"><DEVICESETUP>x<MIDIINPUT name=\""
                                                   + std::string (70, 'm') + "\" identifier=\"i\"/></DEVICESETUP></VALUE></PROPERTIES>", "audioSetup" },
        { "device set-up that is not XML",         settingsWith ("audioSetup", "DEVICESETUP"), "audioSetup" },
        { "other value that is almost XML",        settingsWith ("lastStateFile", "&lt;a&gt;&lt;?x?&gt;y&lt;/a&gt;"), "lastStateFile" },
        { "effect state of size -1",               settingsWith ("filterState", "-1.A"), "filterState" },
        { "effect state of 4 GB",                  settingsWith ("filterState", "4294967295.A"), "filterState" },
        { "effect state over 64 KiB",              settingsWith ("filterState", juce::MemoryBlock (settingsguard::maxStateBytes + 1, true).toBase64Encoding().toStdString()), "filterState" },
        { "effect state shorter than its size",    settingsWith ("filterState", "100.ABCDEF"), "filterState" },
        { "effect state that is not a block",      settingsWith ("filterState", "12.!!!"), "filterState" },
    };
    // clang-format on

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeSettings (c.content);

        startApp();
        auto* processor = app->getMainWindow()->getAudioProcessor();
        ASSERT_NE (processor, nullptr);
        EXPECT_TRUE (hasDefaultParameters (*processor));

        if (c.hostileKey != setAside)
        {
            // The file as JUCE opened it.
            juce::PropertiesFile opened (settingsFile(), {});
            EXPECT_EQ (opened.getValue ("keep"), "me");
            EXPECT_EQ (opened.containsKey (c.hostileKey), juce::String (c.hostileKey) == "audioSetup");
            EXPECT_EQ (opened.getValue (c.hostileKey), "");
        }

        app->shutdown();
        app = nullptr;

        EXPECT_EQ (asideFile().existsAsFile(), c.hostileKey == setAside);

        if (c.hostileKey == setAside)
        {
            EXPECT_EQ (contentOf (asideFile()), juce::MemoryBlock (c.content.data(), c.content.size()));
        }

        // JUCE wrote the file at shut-down, from what it read at start-up.
        juce::PropertiesFile saved (settingsFile(), {});
        EXPECT_TRUE (saved.isValidFile());
        EXPECT_EQ (saved.getValue ("keep"), c.hostileKey != setAside ? "me" : "");
        EXPECT_FALSE (saved.containsKey ("filterState"));
        EXPECT_FALSE (saved.containsKey ("lastStateFile"));
        EXPECT_EQ (saved.getValue ("audioSetup"), "");
    }
}

TEST_F (QuilloAppTest, HostileEffectStatesLeaveTheDefaults)
{
    const std::string states[] = {
        "<Quillo>&#x",
        "<Quillo><PARAM id=\"rate\" value=\"nan\" value=\"nan\"/></Quillo>",
        "<Quillo><PARAM id=\"depth\" base64:value=\"4294967295.A\"/></Quillo>",
        "<Quillo><PARAM id=\"depth\" value=\"1\"\"/>" + repeated ("<a>", 20000) + "</Quillo>",
        "<Quillo><?x?>y</Quillo>",
    };

    for (const auto& state : states)
    {
        SCOPED_TRACE (state.substr (0, 60));
        writeSettings (settingsWith ("filterState", stateText (state)));

        startApp();
        EXPECT_TRUE (hasDefaultParameters (*app->getMainWindow()->getAudioProcessor()));
        app->shutdown();
        app = nullptr;

        EXPECT_EQ (juce::PropertiesFile (settingsFile(), {}).getValue ("keep"), "me");
    }
}

TEST_F (QuilloAppTest, ReadsSettingsOnlyFromARegularFile)
{
    const auto path = settingsFile().getFullPathName();

    const std::pair<const char*, std::function<bool()>> cases[] = {
        { "link to an endless device", [] { return juce::File ("/dev/zero").createSymbolicLink (settingsFile(), true); } },
        { "named pipe without a writer", [&] { return mkfifo (path.toRawUTF8(), 0600) == 0; } },
    };

    for (const auto& [what, make] : cases)
    {
        SCOPED_TRACE (what);
        settingsFile().getParentDirectory().deleteRecursively();
        settingsFile().getParentDirectory().createDirectory();
        ASSERT_TRUE (make());

        startApp();
        app->shutdown();
        app = nullptr;

        // Moved aside as it is: the link itself, not what it points to.
        EXPECT_TRUE (asideFile().exists());
        EXPECT_EQ (asideFile().isSymbolicLink(), juce::String (what).startsWith ("link"));
        EXPECT_TRUE (juce::PropertiesFile (settingsFile(), {}).isValidFile());
    }
}

TEST_F (QuilloAppTest, LeavesAFileThatCannotBeMovedAsideUntouched)
{
    // A folder in the way of the ".bad" name makes the move fail, whoever runs the test.
    const std::string hostile = "<PROPERTIES><VALUE name=\"windowX\" val=\"10\"/><?x?>y</PROPERTIES>";
    writeSettings (hostile);
    ASSERT_TRUE (asideFile().getChildFile ("in-the-way").create());

    ::testing::internal::CaptureStderr();
    startApp();
    const auto printed = ::testing::internal::GetCapturedStderr();

    // One line of ours (the audio library may add its own).
    const auto lines = juce::StringArray::fromLines (juce::String (printed));
    const auto ours = std::count_if (lines.begin(), lines.end(), [] (const auto& line) { return line.startsWith ("Quillo: "); });
    EXPECT_EQ (ours, 1) << printed;
    EXPECT_TRUE (juce::String (printed).contains (settingsFile().getFullPathName())) << printed;
    EXPECT_TRUE (hasDefaultParameters (*app->getMainWindow()->getAudioProcessor()));

    // The run goes on with settings of its own, which are never written.
    app->getMainWindow()->getPluginHolder()->settings->setValue ("filterState", "0.");
    app->shutdown();
    app = nullptr;

    EXPECT_EQ (contentOf (settingsFile()), juce::MemoryBlock (hostile.data(), hostile.size()));
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2);
}
