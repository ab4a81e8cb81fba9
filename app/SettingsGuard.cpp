#include "SettingsGuard.h"

namespace settingsguard
{
    bool isValidUtf8 (const void* data, size_t numBytes) noexcept
    {
        const auto* bytes = static_cast<const juce::uint8*> (data);
        size_t i = 0;

        while (i < numBytes)
        {
            const auto lead = bytes[i];

            if (lead < 0x80)
            {
                ++i;
                continue;
            }

            size_t extra;
            juce::uint32 codePoint, minimum;

            if ((lead & 0xe0) == 0xc0)      { extra = 1; codePoint = lead & 0x1fu; minimum = 0x80; }
            else if ((lead & 0xf0) == 0xe0) { extra = 2; codePoint = lead & 0x0fu; minimum = 0x800; }
            else if ((lead & 0xf8) == 0xf0) { extra = 3; codePoint = lead & 0x07u; minimum = 0x10000; }
            else                            return false;

            if (numBytes - i <= extra)
                return false;

            for (size_t k = 1; k <= extra; ++k)
            {
                const auto next = bytes[i + k];

                if ((next & 0xc0) != 0x80)
                    return false;

                codePoint = (codePoint << 6) | (next & 0x3fu);
            }

            if (codePoint < minimum || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
                return false;

            i += extra + 1;
        }

        return true;
    }

    int nestingDepth (const char* text, size_t numBytes) noexcept
    {
        int depth = 0, deepest = 0;

        for (size_t i = 0; i < numBytes; ++i)
        {
            if (text[i] == '<')
            {
                const auto next = i + 1 < numBytes ? text[i + 1] : '\0';

                if (next == '/')
                    depth = juce::jmax (0, depth - 1);
                else if (next != '?' && next != '!')
                    deepest = juce::jmax (deepest, ++depth);
            }
            else if (text[i] == '/' && i + 1 < numBytes && text[i + 1] == '>')
            {
                depth = juce::jmax (0, depth - 1);
            }
        }

        return deepest;
    }

    bool isSafeToParse (const void* data, size_t numBytes) noexcept
    {
        return isValidUtf8 (data, numBytes)
            && nestingDepth (static_cast<const char*> (data), numBytes) <= maxDepth;
    }

    bool isSafeToParse (const juce::String& text)
    {
        const auto utf8 = text.toRawUTF8();
        return isSafeToParse (utf8, std::strlen (utf8));
    }

    bool setAsideIfUnsafe (const juce::File& settingsFile)
    {
        if (! settingsFile.existsAsFile())
            return false;

        juce::MemoryBlock content;

        // A file that cannot be read is never parsed either.
        if (! settingsFile.loadFileAsData (content) || isSafeToParse (content.getData(), content.getSize()))
            return false;

        const auto aside = settingsFile.getSiblingFile (settingsFile.getFileName() + ".bad");
        aside.deleteFile();
        return settingsFile.moveFileTo (aside);
    }
}
