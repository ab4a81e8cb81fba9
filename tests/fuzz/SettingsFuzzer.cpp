// libFuzzer target: the whole start-up read of a settings file. Any bytes in
// the file are made safe (or set aside), then read the way the host reads
// them: the device set-up value is parsed as XML and its numbers and masks
// read by JUCE's own readers, the effect state is decoded and restored, and
// the values are saved again. What is saved is then used as it is at the next
// start.

#include "QuilloAudioProcessor.h"
#include "SettingsFile.h"
#include "SettingsOptions.h"

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
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& s = scratch();
    const auto file = s.folder.getChildFile ("Quillo.settings");
    const auto aside = s.folder.getChildFile ("Quillo.settings.bad");
    aside.deleteFile();
    file.deleteFile();
    check (file.create().wasOk() && file.appendData (data, size));

    const auto prepared = settingsfile::prepare (file);

    if (prepared.outcome == settingsfile::Outcome::setAside)
    {
        check (aside.existsAsFile() && ! file.exists());
        return 0;
    }

    check (prepared.outcome == settingsfile::Outcome::ready);

    // What prepare left is Quillo's own form of the values it gave.
    juce::MemoryBlock onDisk;
    check (file.loadFileAsData (onDisk));
    check (settingsguard::fileText (prepared.values) == onDisk);

    {
        settingsfile::Settings settings (file, prepared.values, testing_support::settingsOptionsWithoutTimer());

        // The values the host interprets, read as it reads them: JUCE's readers
        // overflow or take quadratic time on what the guard lets through.
        for (const auto* key : { "windowX", "windowY" })
            check (std::abs ((juce::int64) settings.getIntValue (key)) <= settingsguard::maxWindowCoordinate);

        if (auto setup = settings.getXmlValue ("audioSetup"))
        {
            check (setup->getDoubleAttribute ("audioDeviceRate") <= settingsguard::maxSampleRate);
            check (setup->getIntAttribute ("audioDeviceBufferSize") <= settingsguard::maxBufferSize);

            for (const auto* mask : { "audioDeviceInChans", "audioDeviceOutChans" })
            {
                const auto text = setup->getStringAttribute (mask);
                check (text.length() <= settingsguard::maxChannelMaskDigits);
                juce::BigInteger channels;
                channels.parseString (text, 2);
            }

            int midiEntries = 0;

            for (auto* entry : setup->getChildWithTagNameIterator ("MIDIINPUT"))
                midiEntries += entry != nullptr ? 1 : 0;

            check (midiEntries <= settingsguard::maxMidiEntries);
        }

        // The effect state, as the plug-in holder restores it.
        juce::MemoryBlock state;

        if (state.fromBase64Encoding (settings.getValue ("filterState")) && state.getSize() > 0)
        {
            check (state.getSize() <= stateblob::maxBytes);
            s.processor.setStateInformation (state.getData(), (int) state.getSize());
        }

        // A save writes it again, whole, or keeps the file.
        settings.setValue ("windowX", 10);
        settings.save();
    }

    // What Quillo wrote is never refused at the next start.
    check (settingsfile::prepare (file).outcome == settingsfile::Outcome::ready);
    return 0;
}
