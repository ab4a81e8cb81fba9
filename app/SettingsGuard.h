#pragma once

#include <juce_core/juce_core.h>

/** Checks on settings text before JUCE's XML parser sees it.

    juce::XmlDocument parses recursively, so a deeply nested file overflows the
    stack, and malformed UTF-8 can make it read past the end of its input. The
    settings file and the device set-up stored in it are read at start-up,
    before the user can do anything, so a damaged file must not be able to
    crash the application.
*/
namespace settingsguard
{
    /** Deepest element nesting accepted; real settings nest three deep. */
    static constexpr int maxDepth = 64;

    /** The deepest element nesting in the text, counted generously (anything
        that opens an element counts, self-closing elements close again). */
    int nestingDepth (const char* text, size_t numBytes) noexcept;

    /** True for text that juce::XmlDocument can be trusted with. */
    bool isSafeToParse (const void* data, size_t numBytes) noexcept;
    bool isSafeToParse (const juce::String& text);

    /** Moves a settings file that is unsafe to parse aside, to the same name
        with ".bad" appended (replacing an older one), so the application
        starts without it and the user keeps the file. Returns true if it did. */
    bool setAsideIfUnsafe (const juce::File& settingsFile);
}
