#include "QuilloApp.h"
#include "QuietJack.h"

#include <cstdio>

#if JUCE_LINUX || JUCE_BSD
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

//==============================================================================
/*  Puts the window where the host placed it, once the window manager has
    framed it.

    With a native title bar JUCE positions a window by its client area, and
    when it asks the window manager for a position it subtracts the frame, but
    it only learns the frame after the manager has framed the mapped window.
    Until then it sends the position as it is, and a manager that follows the
    default (north-west) window gravity puts the frame's corner there: the
    client area lands lower and further right by the frame's size, the
    position stored on closing is that one, and the window creeps down at
    every start. Which of JUCE's early requests go out before it knows the
    frame is a matter of timing.

    So once the peer knows its frame, this asks again for the position the
    window had before it was shown, now converted correctly. The window
    manager handles one client's requests in order, so this one comes last.
    JUCE's first paint re-sends the window's position too, so that is done
    before.
*/
class QuilloApp::WindowPlacement : private juce::Timer
{
public:
    explicit WindowPlacement (juce::Component& windowToPlace)
        : window (windowToPlace), target (windowToPlace.getPosition())
    {
        startTimer (10);
    }

private:
    void timerCallback() override
    {
        auto* peer = window.getPeer();

        // Without a window manager that reports frames there is nothing to do.
        if (peer == nullptr || ++ticks > maxTicks)
        {
            stopTimer();
            return;
        }

        const auto frame = peer->getFrameSizeIfPresent();

        if (! frame || frame->isEmpty())
            return;

        stopTimer();
        peer->performAnyPendingRepaintsNow();

        // JUCE sends nothing for a position it believes the window has already.
        if (window.getPosition() == target)
            window.setTopLeftPosition (target.translated (1, 0));

        window.setTopLeftPosition (target);
    }

    juce::Component& window;
    const juce::Point<int> target;
    int ticks = 0;
    static constexpr int maxTicks = 1000;   // ten seconds
};

//==============================================================================
#if JUCE_LINUX || JUCE_BSD
/*  Turns SIGTERM into the platform's quit request.

    SIGTERM is how a session logout or a plain `kill` asks a program to quit on
    these systems, but JUCE leaves it at its default, which ends the process on
    the spot: the window position, the device set-up and the input muting of the
    run are lost. A signal handler may only make async-signal-safe calls, so it
    writes one byte into a pipe whose read end the message loop watches, and the
    quit request runs there, as the platform's own would.
*/
class QuilloApp::TerminationRequests
{
public:
    explicit TerminationRequests (std::function<void()> onRequest)
    {
        if (::pipe2 (pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0)
            return;

        juce::LinuxEventLoop::registerFdCallback (pipeEnds[0], [onRequest = std::move (onRequest)] (int fd) {
            char bytes[16];

            while (::read (fd, bytes, sizeof (bytes)) > 0)
                ;

            onRequest();
        });

        writeEnd.store (pipeEnds[1]);

        struct sigaction action = {};
        action.sa_handler = handleSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset (&action.sa_mask);
        installed = ::sigaction (SIGTERM, &action, &previousAction) == 0;
    }

    ~TerminationRequests()
    {
        if (installed)
            ::sigaction (SIGTERM, &previousAction, nullptr);

        writeEnd.store (-1);

        if (pipeEnds[0] >= 0)
        {
            juce::LinuxEventLoop::unregisterFdCallback (pipeEnds[0]);
            ::close (pipeEnds[0]);
            ::close (pipeEnds[1]);
        }
    }

private:
    static void handleSignal (int)
    {
        const auto savedErrno = errno;
        const auto fd = writeEnd.load();

        // A full pipe already holds a request.
        if (fd >= 0)
        {
            [[maybe_unused]] const auto written = ::write (fd, "q", 1);
        }

        errno = savedErrno;
    }

    static_assert (std::atomic<int>::is_always_lock_free, "the signal handler reads it");
    static inline std::atomic<int> writeEnd { -1 };

    int pipeEnds[2] { -1, -1 };
    struct sigaction previousAction = {};
    bool installed = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TerminationRequests)
};
#else
// Elsewhere the platform's quit request reaches systemRequestedQuit by itself.
class QuilloApp::TerminationRequests
{
public:
    explicit TerminationRequests (std::function<void()>) {}
};
#endif

//==============================================================================
QuilloApp::QuilloApp()
{
    juce::PropertiesFile::Options options;

    options.applicationName = getApplicationName();
    options.filenameSuffix = ".settings";
    options.osxLibrarySubFolder = "Application Support";

    // An empty folder name makes JUCE use ~/.Quillo/ on Linux and
    // ~/Library/Application Support/ on macOS.
    options.folderName = {};

    options.millisecondsBeforeSaving = 3000;

    appProperties.setStorageParameters (options);
}

QuilloApp::~QuilloApp()
{
    // Normally shutdown has done this already; the window must go before the
    // settings it writes into.
    deleteWindow();
    terminationRequests = nullptr;
}

//==============================================================================
const juce::String QuilloApp::getApplicationName() { return JucePlugin_Name; }
const juce::String QuilloApp::getApplicationVersion() { return JucePlugin_VersionString; }
bool QuilloApp::moreThanOneInstanceAllowed() { return true; }
void QuilloApp::anotherInstanceStarted (const juce::String&) {}

void QuilloApp::initialise (const juce::String&)
{
    quietjack::silenceLibjack();
    mainWindow.reset (createWindow());
    terminationRequests = std::make_unique<TerminationRequests> ([this] { systemRequestedQuit(); });

    // clang-format off
   #if JUCE_LINUX || JUCE_BSD
    windowPlacement = std::make_unique<WindowPlacement> (*mainWindow);
   #endif
    // clang-format on

    mainWindow->setVisible (true);
}

void QuilloApp::shutdown()
{
    // Deleting the window stores its position, and its plug-in holder the
    // device set-up and the input muting, so the settings are saved only after
    // that. The SIGTERM handler stays until then, so that another SIGTERM
    // cannot end the process halfway.
    deleteWindow();

    if (settingsFiles != nullptr)
        settingsFiles->saveIfNeeded();

    terminationRequests = nullptr;
}

void QuilloApp::deleteWindow()
{
    // The menu bar calls into the window, so it goes first.
    removeMenuBar();

    // The only dialog here, the device settings (from the menu or the
    // muted-input notice), is launched asynchronously and so belongs to JUCE's
    // modal component manager, which deletes it on a later message. A quit that
    // did not dismiss it first (Ctrl+C, the window's close button) leaves that
    // to JUCE's own shutdown, after the device manager the dialog shows has gone
    // with the window. So dialogs go first, here; the manager lets go of a
    // component that someone else deletes.
    if (mainWindow != nullptr)
    {
        juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
        auto& desktop = juce::Desktop::getInstance();

        for (int i = desktop.getNumComponents(); --i >= 0;)
            if (auto* dialog = dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)))
                delete dialog;
    }

    windowPlacement = nullptr;
    mainWindow = nullptr;
}

void QuilloApp::systemRequestedQuit()
{
    // A modal dialog (the device settings) must be gone before the window that
    // owns its device manager is deleted; dismissing it is asynchronous, so look
    // again shortly.
    if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
    {
        juce::Timer::callAfterDelay (100, [] {
            if (auto* app = juce::JUCEApplicationBase::getInstance())
                app->systemRequestedQuit();
        });

        return;
    }

    quit();
}

//==============================================================================
juce::StandaloneFilterWindow* QuilloApp::createWindow()
{
    const auto background = juce::LookAndFeel::getDefaultLookAndFeel()
                                .findColour (juce::ResizableWindow::backgroundColourId);

    auto window = std::make_unique<juce::StandaloneFilterWindow> (getApplicationName(),
                                                                  background,
                                                                  openSettings(),
                                                                  false,
                                                                  juce::String(),
                                                                  nullptr,
                                                                  juce::Array<juce::StandaloneFilterWindow::PluginInOuts>(),
                                                                  false);

    // The host sized the window around the editor (and the muted-input notice);
    // neither the title bar switch nor the menu bar may take space from that.
    const auto* content = window->getContentComponent();
    const auto contentWidth = content != nullptr ? content->getWidth() : 0;
    const auto contentHeight = content != nullptr ? content->getHeight() : 0;

    // Switching the title bar recreates the native window, and JUCE brings a
    // recreated window to the front, which maps it: it would appear before it
    // has its menu bar and final size, and the resize that follows would race
    // with the window manager placing it. So the switch happens off the
    // desktop, and the native window is created once its bounds are final;
    // initialise shows it.
    window->removeFromDesktop();
    window->setUsingNativeTitleBar (true);
    installMenuBar (*window);

    if (content != nullptr)
        window->setContentComponentSize (contentWidth, contentHeight);

    window->addToDesktop();
    return window.release();
}

juce::PropertiesFile* QuilloApp::openSettings()
{
    settingsFiles = std::make_unique<settingsfile::SettingsFiles> (appProperties.getStorageParameters());
    return &settingsFiles->getUserSettings();
}

// clang-format off
void QuilloApp::installMenuBar (juce::StandaloneFilterWindow& window)
{
   #if JUCE_MAC
    juce::ignoreUnused (window);
    juce::MenuBarModel::setMacMainMenu (this, nullptr, {});
   #else
    window.setMenuBar (this);
   #endif
}

void QuilloApp::removeMenuBar()
{
   #if JUCE_MAC
    juce::MenuBarModel::setMacMainMenu (nullptr, nullptr, {});
   #else
    if (mainWindow != nullptr)
        mainWindow->setMenuBar (nullptr);
   #endif
}
// clang-format on

//==============================================================================
juce::StringArray QuilloApp::getMenuBarNames()
{
    return { "Options" };
}

juce::PopupMenu QuilloApp::getMenuForIndex (int topLevelMenuIndex, const juce::String&)
{
    juce::PopupMenu menu;

    if (topLevelMenuIndex == 0)
        menu.addItem (audioMidiOptionsItemId, "Audio / MIDI Options", true, false);

    return menu;
}

void QuilloApp::menuItemSelected (int menuItemID, int)
{
    if (menuItemID != audioMidiOptionsItemId || mainWindow == nullptr)
        return;

    std::fputs ("Audio/MIDI Options Clicked\n", stdout);
    std::fflush (stdout);

    if (auto* holder = mainWindow->getPluginHolder())
        holder->showAudioSettingsDialog();
}

//==============================================================================
juce::JUCEApplicationBase* juce_CreateApplication();

juce::JUCEApplicationBase* juce_CreateApplication()
{
    return new QuilloApp();
}
