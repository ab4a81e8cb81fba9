#include "SettingsGuard.h"
#include "Utf8.h"

namespace settingsguard
{
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
