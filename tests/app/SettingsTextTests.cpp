#include "SettingsGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
    /** The effect state blob around some XML text. */
    juce::String stateText (const std::string& xml)
    {
        juce::MemoryOutputStream out;
        out.writeInt ((int) stateblob::magic);
        out.writeInt ((int) xml.size());
        out.write (xml.data(), xml.size());
        out.writeByte (0);
        return out.getMemoryBlock().toBase64Encoding();
    }

    /** The text that JUCE's PropertiesFile writes for these values. */
    juce::MemoryBlock juceFileText (const juce::StringPairArray& values)
    {
        juce::XmlElement document ("PROPERTIES");

        for (int i = 0; i < values.size(); ++i)
        {
            auto* entry = document.createNewChildElement ("VALUE");
            entry->setAttribute ("name", values.getAllKeys()[i]);

            if (auto xml = juce::parseXML (values.getAllValues()[i]))
                entry->addChildElement (xml.release());
            else
                entry->setAttribute ("val", values.getAllValues()[i]);
        }

        juce::MemoryOutputStream text;
        document.writeTo (text, {});
        return text.getMemoryBlock();
    }

    std::optional<juce::StringPairArray> valuesOf (const std::string& text)
    {
        return settingsguard::readValues (text.data(), text.size());
    }

    juce::String escaped (const juce::String& text)
    {
        return text.replace ("&", "&amp;").replace ("<", "&lt;").replace (">", "&gt;").replace ("\"", "&quot;");
    }
}

TEST (SettingsText, LeavesJuceOwnTextAsItIsAndRewritesOthersKeepingTheValues)
{
    const auto deviceSetup = juce::String ("<DEVICESETUP deviceType=\"JACK\" audioOutputDeviceName=\"a &amp; b\" audioDeviceRate=\"48000.0\""
                                           " audioDeviceBufferSize=\"256\" audioDeviceInChans=\"11\"><MIDIINPUT name=\"m\" identifier=\"i\"/></DEVICESETUP>");
    juce::StringPairArray values (false);
    values.set ("audioSetup", deviceSetup);
    values.set ("filterState", stateText ("<Quillo/>"));
    values.set ("windowX", "12");
    values.set ("path", "/a/b");

    const auto juceOwn = juceFileText (values);
    EXPECT_EQ (settingsguard::ownForm (juceOwn.getData(), juceOwn.getSize()), juceOwn);

    // The same values in a hand-written layout.
    const std::string loose = "<?xml version='1.0'?><PROPERTIES>\n<VALUE name='audioSetup'>" + deviceSetup.toStdString()
                              + "</VALUE><VALUE name='filterState' val='" + stateText ("<Quillo/>").toStdString()
                              + "'/><VALUE val='12' name='windowX'/><!-- a comment --><OTHER/><VALUE name='path' val='/a/b'/></PROPERTIES>";
    const auto rewritten = settingsguard::ownForm (loose.data(), loose.size());
    ASSERT_TRUE (rewritten);
    EXPECT_EQ (*rewritten, juceOwn);
}

// Each value that the host interprets is kept only if the host's own reader
// can take it; any other value is dropped alone.
TEST (SettingsText, DropsOnlyTheValuesTheHostCannotReadSafely)
{
    struct Case
    {
        const char* key;
        juce::String value;
        bool kept;
    };

    const Case cases[] = {
        // Read with getIntValue, which wraps: the number read counts, not the text.
        { "windowX", "-100", true },
        { "windowX", "1048576", true },
        { "windowY", "-1048576", true },
        { "windowX", "1048577", false },
        { "windowY", "-1048577", false },
        { "windowX", "2147483647", false },
        { "windowY", "2147483600", false },
        { "windowX", "6442450943", false },   // reads as INT_MAX
        { "windowX", "4294967396", true },    // reads as 100
        { "shouldMuteInput", "0", true },
        { "shouldMuteInput", "1", true },
        { "shouldMuteInput", "2", false },
        { "shouldMuteInput", "true", false },
        { "shouldMuteInput", juce::String (std::string (10000, '9')), false },
        // JUCE parses a value as XML only when it starts with '<', blanks aside.
        { "lastStateFile", "/home/u/a<b.state", true },
        { "lastStateFile", "a <b/>", true },
        { "lastStateFile", "<a>&#x", false },
        { "lastStateFile", " \t<a", false },
        { "filterState", stateText ("<Quillo/>"), true },
        { "filterState", "-1.A", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.key) + " = " + c.value.substring (0, 40));
        const auto text = "<PROPERTIES><VALUE name=\"marker\" val=\"kept\"/><VALUE name=\"" + std::string (c.key) + "\" val=\""
                          + escaped (c.value).toStdString() + "\"/></PROPERTIES>";
        const auto values = valuesOf (text);
        ASSERT_TRUE (values);
        EXPECT_EQ ((*values)["marker"], "kept");
        EXPECT_EQ (values->containsKey (c.key), c.kept);

        if (c.kept)
        {
            EXPECT_EQ ((*values)[c.key], c.value);
        }
    }

    // XML after blanks is read as XML, and written as such.
    const auto values = valuesOf ("<PROPERTIES><VALUE name=\"x\" val=\"  &lt;a b='1'/&gt;\"/></PROPERTIES>");
    ASSERT_TRUE (values);
    EXPECT_EQ ((*values)["x"], "<a b=\"1\"/>");
}

TEST (SettingsText, DropsOnlyTheDeviceSettingsTheDeviceManagerCannotReadSafely)
{
    struct Case
    {
        const char* attribute;
        juce::String value;
        bool kept;
    };

    const juce::String longestMask (std::string (settingsguard::maxChannelMaskDigits, '1'));
    const juce::String longestName (std::string (settingsguard::maxNameLength, 'n'));

    const Case cases[] = {
        { "audioDeviceRate", "48000.0", true },
        { "audioDeviceRate", "44100", true },
        { "audioDeviceRate", "4.8e4", true },
        { "audioDeviceRate", "1000000", true },
        { "audioDeviceRate", "1000000.5", false },
        { "audioDeviceRate", "1e99999999999", false },   // overflows the framework's number reader
        { "audioDeviceRate", "1e-99999999999", false },
        { "audioDeviceRate", "1e0001", false },
        { "audioDeviceRate", "1e300", false },
        { "audioDeviceRate", "nan", false },
        { "audioDeviceRate", "inf", false },
        { "audioDeviceRate", "-48000", false },
        { "audioDeviceRate", "0x10", false },
        { "audioDeviceRate", juce::String (std::string (1000, '4')), false },
        { "audioDeviceBufferSize", "256", true },
        { "audioDeviceBufferSize", "262144", true },
        { "audioDeviceBufferSize", "262145", false },
        { "audioDeviceBufferSize", "-256", false },
        { "audioDeviceBufferSize", "4294967552", false },   // wraps to 256
        { "audioDeviceBufferSize", "1e3", false },
        { "audioDeviceInChans", "11", true },
        { "audioDeviceInChans", "", true },
        { "audioDeviceOutChans", longestMask, true },
        { "audioDeviceOutChans", longestMask + "1", false },   // parsed in quadratic time
        { "audioDeviceInChans", "12", false },
        { "audioDeviceInChans", " 11", false },
        { "audioOutputDeviceName", longestName, true },
        { "audioOutputDeviceName", longestName + "n", false },
        { "deviceType", longestName + "n", false },
        { "defaultMidiOutput", longestName + "n", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.attribute) + " = " + c.value.substring (0, 40));
        juce::XmlElement setup ("DEVICESETUP");
        setup.setAttribute ("audioInputDeviceName", "system");
        setup.setAttribute (c.attribute, c.value);
        juce::StringPairArray written (false);
        written.set ("marker", "kept");
        written.set ("audioSetup", setup.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
        const auto text = juceFileText (written);

        const auto values = settingsguard::readValues (text.getData(), text.getSize());
        ASSERT_TRUE (values);
        EXPECT_EQ ((*values)["marker"], "kept");
        const auto read = juce::parseXML ((*values)["audioSetup"]);
        ASSERT_NE (read, nullptr);
        EXPECT_EQ (read->getStringAttribute ("audioInputDeviceName"), "system");
        EXPECT_EQ (read->hasAttribute (c.attribute), c.kept);
    }

    // MIDI entries past the bound are dropped, and long names in an entry.
    juce::XmlElement setup ("DEVICESETUP");

    for (int i = 0; i <= settingsguard::maxMidiEntries; ++i)
        setup.createNewChildElement ("MIDIINPUT")->setAttribute ("name", i == 0 ? longestName + "n" : juce::String (i));

    settingsguard::removeUnsafeDeviceSettings (setup);
    EXPECT_EQ (setup.getNumChildElements(), settingsguard::maxMidiEntries);
    EXPECT_FALSE (setup.getFirstChildElement()->hasAttribute ("name"));
    EXPECT_EQ (setup.getChildElement (1)->getStringAttribute ("name"), "1");

    // A set-up that is not XML gives way to the default device.
    const auto notXml = valuesOf ("<PROPERTIES><VALUE name=\"audioSetup\" val=\"&lt;DEVICESETUP&gt;&amp;#x\"/></PROPERTIES>");
    ASSERT_TRUE (notXml);
    EXPECT_EQ ((*notXml)["audioSetup"], "");
    EXPECT_TRUE (notXml->containsKey ("audioSetup"));
}

// What is written must read back: the bounds hold for writing as for reading,
// to the byte and to the element.
TEST (SettingsText, WritesNothingThatItWouldRefuseToRead)
{
    juce::StringPairArray values (false);
    values.set ("pad", "");
    const auto empty = settingsguard::fileText (values);
    ASSERT_TRUE (empty);

    values.set ("pad", juce::String (std::string (settingsguard::maxFileBytes - empty->getSize(), 'x')));
    const auto largest = settingsguard::fileText (values);
    ASSERT_TRUE (largest);
    EXPECT_EQ (largest->getSize(), settingsguard::maxFileBytes);
    EXPECT_TRUE (settingsguard::readValues (largest->getData(), largest->getSize()));

    values.set ("pad", values["pad"] + "x");
    EXPECT_FALSE (settingsguard::fileText (values));

    // The root and one element a value.
    juce::StringPairArray many (false);

    for (int i = 0; i < settingsguard::fileLimits().maxElements - 1; ++i)
        many.set ("k" + juce::String (i), "v");

    const auto mostElements = settingsguard::fileText (many);
    ASSERT_TRUE (mostElements);
    EXPECT_TRUE (settingsguard::readValues (mostElements->getData(), mostElements->getSize()));

    many.set ("one more", "v");
    EXPECT_FALSE (settingsguard::fileText (many));
}

TEST (SettingsText, AcceptsOnlyAPlausibleMemoryBlockAsEffectState)
{
    struct Case
    {
        const char* text;
        bool accepted;
    };

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

    EXPECT_TRUE (settingsguard::isMemoryBlockText (juce::MemoryBlock (stateblob::maxBytes, true).toBase64Encoding()));
    EXPECT_FALSE (settingsguard::isMemoryBlockText (juce::MemoryBlock (stateblob::maxBytes + 1, true).toBase64Encoding()));
}
