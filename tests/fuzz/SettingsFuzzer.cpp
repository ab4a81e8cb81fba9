// libFuzzer target: the whole start-up read of a settings file. Any bytes in
// the file are made safe (or set aside), then read the way the host reads
// them: JUCE's PropertiesFile parses the file, the device set-up value is
// parsed as XML, the effect state is decoded and restored, and JUCE's writer
// parses every value again when it saves. What it saves is then used as it
// is at the next start.

#include "QuilloAudioProcessor.h"
#include "SettingsGuard.h"

#include <cstdint>
#include <cstdlib>

namespace
{
    void check (bool condition)
    {
        if (! condition)
            std::abort();
    }

    struct Scratch
    {
        Scratch()
        {
            // The parameter tree and PropertiesFile start timers, which need a message manager; no loop runs.
            juce::MessageManager::getInstance();

            const juce::File shm ("/dev/shm");
            folder = (shm.isDirectory() ? shm : juce::File::getSpecialLocation (juce::File::tempDirectory))
                         .getNonexistentChildFile ("quillo-settings-fuzz", {}, false);
            folder.createDirectory();
        }

        ~Scratch() { folder.deleteRecursively(); }

        juce::File folder;
        QuilloAudioProcessor processor;
    };

    Scratch& scratch()
    {
        static Scratch instance;
        return instance;
    }

    juce::PropertiesFile::Options options()
    {
        juce::PropertiesFile::Options o;
        o.applicationName = "Quillo";
        o.filenameSuffix = ".settings";
        o.millisecondsBeforeSaving = -1;
        return o;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& s = scratch();
    const auto file = s.folder.getChildFile ("Quillo.settings");
    const auto aside = s.folder.getChildFile ("Quillo.settings.bad");
    aside.deleteFile();
    file.deleteFile();
    check (file.appendData (data, size));

    const auto outcome = settingsguard::prepare (file);

    if (outcome == settingsguard::Outcome::setAside)
    {
        check (aside.existsAsFile() && ! file.exists());
        return 0;
    }

    check (outcome == settingsguard::Outcome::ready);

    {
        juce::PropertiesFile settings (file, options());

        // The stored device set-up, as the plug-in holder reads it.
        juce::ignoreUnused (settings.getXmlValue ("audioSetup"));

        // The effect state, as the plug-in holder restores it.
        juce::MemoryBlock state;

        if (state.fromBase64Encoding (settings.getValue ("filterState")) && state.getSize() > 0)
        {
            check (state.getSize() <= settingsguard::maxStateBytes);
            s.processor.setStateInformation (state.getData(), (int) state.getSize());
        }

        // JUCE's writer parses every value once more.
        settings.setNeedsToBeSaved (true);
        check (settings.save());
    }

    // What JUCE wrote is never refused at the next start.
    check (settingsguard::prepare (file) == settingsguard::Outcome::ready);
    return 0;
}
