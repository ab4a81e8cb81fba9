#pragma once

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

#include "SettingsFile.h"

#include <memory>

//==============================================================================
/**
    The desktop application: JUCE's standalone host window around the effect,
    the settings file that host keeps its state in, and the "Options" menu.

    On macOS the menu goes into the global menu bar. Other platforms have none,
    so the same menu is shown as a menu bar along the top of the window, which
    grows by the bar's height so that the effect's editor keeps its own size.

    Everything here runs on the message thread, apart from the SIGTERM handler,
    which only hands the request over to it.
*/
class QuilloApp : public juce::JUCEApplication,
                  public juce::MenuBarModel
{
public:
    /** The only item of the "Options" menu. */
    enum MenuItemIds
    {
        audioMidiOptionsItemId = 1
    };

    QuilloApp();
    ~QuilloApp() override;

    //==============================================================================
    const juce::String getApplicationName() override;
    const juce::String getApplicationVersion() override;
    bool moreThanOneInstanceAllowed() override;
    void initialise (const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted (const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    //==============================================================================
    juce::StringArray getMenuBarNames() override;
    juce::PopupMenu getMenuForIndex (int topLevelMenuIndex, const juce::String& menuName) override;
    void menuItemSelected (int menuItemID, int topLevelMenuIndex) override;

    //==============================================================================
    /** A new host window, not yet visible; the caller owns it. */
    virtual juce::StandaloneFilterWindow* createWindow();

    /** The running window, or nullptr before initialise and after shutdown. */
    juce::StandaloneFilterWindow* getMainWindow() const noexcept { return mainWindow.get(); }

    /** The options of the settings files the host window reads and writes. */
    juce::ApplicationProperties& getApplicationProperties() noexcept { return appProperties; }

    /** The settings files, once the window has opened them. */
    settingsfile::SettingsFiles* getSettingsFiles() noexcept { return settingsFiles.get(); }

private:
    juce::PropertiesFile* openSettings();
    void installMenuBar (juce::StandaloneFilterWindow& window);
    void removeMenuBar();
    void deleteWindow();

    class WindowPlacement;
    class TerminationRequests;

    // Only the options: the files themselves are opened and saved by
    // settingsFiles, which JUCE's own reader and writer never touch.
    juce::ApplicationProperties appProperties;
    std::unique_ptr<settingsfile::SettingsFiles> settingsFiles;

    std::unique_ptr<juce::StandaloneFilterWindow> mainWindow;
    std::unique_ptr<WindowPlacement> windowPlacement;
    std::unique_ptr<TerminationRequests> terminationRequests;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuilloApp)
};
