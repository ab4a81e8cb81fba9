#pragma once

#include "QuilloApp.h"
#include "MessageLoop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace app_tests
{
    /** Where the application keeps its settings, in the tests' own home folder. */
    inline juce::File settingsFile() { return juce::File ("~/.Quillo/Quillo.settings"); }
    inline juce::File asideFile() { return settingsFile().getSiblingFile ("Quillo.settings.bad"); }

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

    inline juce::DialogWindow* findSettingsDialog()
    {
        auto& desktop = juce::Desktop::getInstance();

        for (int i = 0; i < desktop.getNumComponents(); ++i)
            if (auto* dialog = dynamic_cast<juce::DialogWindow*> (desktop.getComponent (i)))
                if (dialog->getName() == "Audio/MIDI Settings" && dialog->isVisible())
                    return dialog;

        return nullptr;
    }

    /** Runs the message loop until the condition holds or a generous time-out passes. */
    template <typename Condition>
    bool pumpUntil (Condition&& condition)
    {
        return testing_support::runMessageLoopUntil (condition, 1000);
    }

    inline juce::MemoryBlock contentOf (const juce::File& file)
    {
        juce::MemoryBlock content;
        file.loadFileAsData (content);
        return content;
    }

    /** juce::MemoryBlock's own == hands memcmp a null pointer for two empty blocks. */
    inline bool sameBytes (const juce::MemoryBlock& a, const juce::MemoryBlock& b)
    {
        return a.getSize() == b.getSize() && (a.isEmpty() || std::memcmp (a.getData(), b.getData(), a.getSize()) == 0);
    }

    inline void writeSettings (const void* data, size_t size)
    {
        settingsFile().getParentDirectory().deleteRecursively();
        ASSERT_TRUE (settingsFile().getParentDirectory().createDirectory());
        // (juce::File::replaceWithData deletes the file for no data.)
        juce::FileOutputStream out (settingsFile());
        ASSERT_TRUE (out.openedOk());
        ASSERT_TRUE (size == 0 || out.write (data, size));
    }

    inline void writeSettings (const juce::MemoryBlock& content) { writeSettings (content.getData(), content.getSize()); }
    inline void writeSettings (const std::string& content) { writeSettings (content.data(), content.size()); }

    /** Lines of standard error that Quillo wrote (the audio library may add its own). */
    inline juce::StringArray ourLines (const std::string& printed)
    {
        juce::StringArray ours;

        for (const auto& line : juce::StringArray::fromLines (juce::String (printed)))
            if (line.startsWith ("Quillo: "))
                ours.add (line);

        return ours;
    }

    //==============================================================================
    /** Every test gets JUCE's GUI support anew (a quit, once dispatched, stops
        the message manager for good) and starts without a settings file. */
    class AppTest : public ::testing::Test
    {
    protected:
        AppTest() { settingsFile().getParentDirectory().deleteRecursively(); }

        void startApp()
        {
            app = std::make_unique<CountingApp>();
            app->initialise ({});
            ASSERT_NE (app->getMainWindow(), nullptr);
        }

        void stopApp()
        {
            if (app != nullptr)
            {
                juce::ModalComponentManager::getInstance()->cancelAllModalComponents();
                pumpUntil ([] { return findSettingsDialog() == nullptr; });
                app->shutdown();
                app = nullptr;
            }
        }

        void TearDown() override { stopApp(); }

        juce::ScopedJuceInitialiser_GUI juceGui;
        std::unique_ptr<CountingApp> app;
    };
}
