#include "SettingsGuard.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace settingsguard
{
    namespace
    {
        // PropertiesFile's layout: <PROPERTIES><VALUE name="key" val="text"/>...</PROPERTIES>,
        // or the value as the VALUE element's child when it is XML itself.
        constexpr auto fileTag = "PROPERTIES";
        constexpr auto valueTag = "VALUE";
        constexpr auto nameAttribute = "name";
        constexpr auto valueAttribute = "val";

        // The keys whose values the host interprets.
        constexpr auto deviceSetupKey = "audioSetup";
        constexpr auto effectStateKey = "filterState";
        constexpr auto muteInputKey = "shouldMuteInput";

        /** False for a tree that JUCE cannot write on one line, which PropertiesFile
            does with every XML value it reads: its single-line writer writes a null
            line end (a crash) for an element that follows text and has children or
            long attributes. So no element may hold both text and elements; real
            settings hold no text at all. */
        bool isWritableOnOneLine (const juce::XmlElement& root)
        {
            std::vector<const juce::XmlElement*> pending { &root };

            while (! pending.empty())
            {
                const auto* element = pending.back();
                pending.pop_back();
                bool hasText = false, hasElements = false;

                for (const auto* child : element->getChildIterator())
                {
                    (child->isTextElement() ? hasText : hasElements) = true;
                    pending.push_back (child);
                }

                if (hasText && hasElements)
                    return false;
            }

            return true;
        }

        /** The value as XML, or null if it is not XML that can be stored as such. */
        std::unique_ptr<juce::XmlElement> parseValue (const juce::String& value)
        {
            // A value is stored two levels below the file's root, and the file as
            // a whole must stay within the bounds.
            auto limits = fileLimits();
            limits.maxDepth -= 2;
            auto xml = untrustedxml::parse (value.toRawUTF8(), value.getNumBytesAsUTF8(), limits);
            return xml != nullptr && isWritableOnOneLine (*xml) ? std::move (xml) : nullptr;
        }

        juce::String oneLine (const juce::XmlElement& xml)
        {
            return xml.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
        }

        bool isWindowPositionKey (const juce::String& name)
        {
            return name == "windowX" || name == "windowY";
        }

        /** Digits only, at most maxDigits of them. */
        bool isDigitRun (const juce::String& text, int maxDigits)
        {
            return text.isNotEmpty() && text.length() <= maxDigits && text.containsOnly ("0123456789");
        }

        /** A number as JUCE writes a double, with an exponent of at most three
            digits: JUCE's reader overflows an int on a longer one. */
        bool isPlainDecimal (const juce::String& text)
        {
            if (text.isEmpty() || text.length() > 40)
                return false;

            auto c = text.getCharPointer();

            if (*c == '+' || *c == '-')
                ++c;

            int mantissaDigits = 0, points = 0;

            for (; ! c.isEmpty() && *c != 'e' && *c != 'E'; ++c)
            {
                if (*c == '.')
                    ++points;
                else if (*c >= '0' && *c <= '9')
                    ++mantissaDigits;
                else
                    return false;
            }

            if (mantissaDigits == 0 || points > 1)
                return false;

            if (c.isEmpty())
                return true;

            ++c;

            if (*c == '+' || *c == '-')
                ++c;

            int exponentDigits = 0;

            for (; ! c.isEmpty(); ++c, ++exponentDigits)
                if (*c < '0' || *c > '9')
                    return false;

            return exponentDigits >= 1 && exponentDigits <= 3;
        }

        bool isSafeDeviceAttribute (const juce::String& name, const juce::String& value)
        {
            if (name == "audioDeviceRate")
            {
                if (! isPlainDecimal (value))
                    return false;

                const auto rate = untrustedxml::readDecimalNumber (value);
                return std::isfinite (rate) && rate >= 0.0 && rate <= maxSampleRate;
            }

            if (name == "audioDeviceBufferSize")
                return isDigitRun (value, 7) && value.getIntValue() <= maxBufferSize;

            if (name == "audioDeviceInChans" || name == "audioDeviceOutChans")
                return value.length() <= maxChannelMaskDigits && (value.isEmpty() || value.containsOnly ("01"));

            return value.length() <= maxNameLength;
        }

        void removeUnsafeAttributes (juce::XmlElement& element)
        {
            for (int i = element.getNumAttributes(); --i >= 0;)
            {
                const auto name = element.getAttributeName (i);

                if (! isSafeDeviceAttribute (name, element.getAttributeValue (i)))
                    element.removeAttribute (name);
            }
        }

        /** The value to keep for a key, or nothing to drop it. */
        std::optional<juce::String> checkedValue (const juce::String& name, const juce::String& value)
        {
            if (name == effectStateKey)
                return isMemoryBlockText (value) ? std::optional<juce::String> (value) : std::nullopt;

            // The host reads these with getIntValue, which wraps, so the check
            // is of the number it reads, not of the text.
            if (isWindowPositionKey (name))
                return std::abs ((juce::int64) value.getIntValue()) <= maxWindowCoordinate ? std::optional<juce::String> (value)
                                                                                           : std::nullopt;

            if (name == muteInputKey)
                return value == "0" || value == "1" ? std::optional<juce::String> (value) : std::nullopt;

            if (name == deviceSetupKey)
            {
                // A set-up that cannot be read gives way to the default device.
                auto xml = looksLikeXml (value) ? parseValue (value) : nullptr;

                if (xml == nullptr)
                    return juce::String();

                removeUnsafeDeviceSettings (*xml);
                return oneLine (*xml);
            }

            if (looksLikeXml (value))
            {
                if (auto xml = parseValue (value))
                    return oneLine (*xml);

                return std::nullopt;
            }

            return value;
        }
    }

    //==============================================================================
    untrustedxml::Limits fileLimits()
    {
        // A real file nests four deep (PROPERTIES, VALUE, DEVICESETUP, MIDIINPUT)
        // and holds a few dozen elements.
        untrustedxml::Limits limits;
        limits.maxBytes = maxFileBytes;
        limits.maxDepth = 16;
        limits.maxAttributesPerElement = 64;
        limits.maxElements = 4096;
        return limits;
    }

    bool looksLikeXml (const juce::String& value)
    {
        return value.trimStart().startsWithChar ('<');
    }

    std::optional<juce::StringPairArray> readValues (const void* data, size_t numBytes)
    {
        const auto file = untrustedxml::parse (data, numBytes, fileLimits());

        if (file == nullptr || ! file->hasTagName (fileTag))
            return {};

        // The values as PropertiesFile reads them: later keys replace earlier ones
        // in place, and an element inside a VALUE is the value as one line of XML.
        // One that cannot be written on one line stands as a lone '<': not XML, so
        // it is dropped below.
        juce::StringPairArray read (false);

        for (auto* element : file->getChildWithTagNameIterator (valueTag))
        {
            const auto name = element->getStringAttribute (nameAttribute);

            if (name.isEmpty())
                continue;

            const auto* child = element->getFirstChildElement();

            if (child == nullptr)
                read.set (name, element->getStringAttribute (valueAttribute));
            else if (isWritableOnOneLine (*child))
                read.set (name, oneLine (*child));
            else
                read.set (name, "<");
        }

        juce::StringPairArray kept (false);

        for (int i = 0; i < read.size(); ++i)
            if (const auto value = checkedValue (read.getAllKeys()[i], read.getAllValues()[i]))
                kept.set (read.getAllKeys()[i], *value);

        return kept;
    }

    std::optional<juce::MemoryBlock> fileText (const juce::StringPairArray& values)
    {
        juce::XmlElement document (fileTag);

        for (int i = 0; i < values.size(); ++i)
        {
            const auto& value = values.getAllValues()[i];
            auto* entry = document.createNewChildElement (valueTag);
            entry->setAttribute (nameAttribute, values.getAllKeys()[i]);

            if (auto xml = looksLikeXml (value) ? parseValue (value) : nullptr)
                entry->addChildElement (xml.release());
            else
                entry->setAttribute (valueAttribute, value);
        }

        juce::MemoryOutputStream text;
        document.writeTo (text, {});

        // What is written must not be refused at the next start.
        if (untrustedxml::parse (text.getData(), text.getDataSize(), fileLimits()) == nullptr)
            return {};

        return text.getMemoryBlock();
    }

    std::optional<juce::MemoryBlock> ownForm (const void* data, size_t numBytes)
    {
        if (const auto values = readValues (data, numBytes))
            return fileText (*values);

        return {};
    }

    bool isMemoryBlockText (const juce::String& text)
    {
        auto c = text.getCharPointer();
        size_t size = 0;
        bool hasDigits = false;

        for (; ! c.isEmpty() && *c != '.'; ++c)
        {
            if (*c < '0' || *c > '9')
                return false;

            size = size * 10 + (size_t) (*c - '0');
            hasDigits = true;

            if (size > stateblob::maxBytes)
                return false;
        }

        if (! hasDigits || c.isEmpty())
            return false;

        // Six bits a character, as juce::MemoryBlock::toBase64Encoding writes them.
        static constexpr const char alphabet[] = ".ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+";
        size_t numChars = 0;

        for (++c; ! c.isEmpty(); ++c, ++numChars)
            if (*c > 127 || std::strchr (alphabet, (int) *c) == nullptr)
                return false;

        return numChars == (size * 8 + 5) / 6;
    }

    void removeUnsafeDeviceSettings (juce::XmlElement& deviceSetup)
    {
        removeUnsafeAttributes (deviceSetup);
        int midiEntries = 0;

        for (auto* child = deviceSetup.getFirstChildElement(); child != nullptr;)
        {
            auto* next = child->getNextElement();

            if (child->hasTagName ("MIDIINPUT") && ++midiEntries > maxMidiEntries)
                deviceSetup.removeChildElement (child, true);
            else if (! child->isTextElement())
                removeUnsafeAttributes (*child);

            child = next;
        }
    }
}
