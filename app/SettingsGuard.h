#pragma once

#include "UntrustedXml.h"

#include <juce_data_structures/juce_data_structures.h>

#include <memory>
#include <optional>

/** Settings files are made safe before juce::PropertiesFile opens them.

    JUCE's XML parser is not safe on hostile text, and PropertiesFile parses
    the whole file when it opens it, the device set-up value again when the
    host reads it, and every value once more each time it saves. The files
    are read at start-up, before the user can do anything, so a damaged file
    must neither crash nor hang the application, nor lock the user out of it.

    So a file is first read (bounded) by the project's own XML reader, and
    JUCE only ever opens text that JUCE's own writer produced from the values
    read: a file in any other form is rewritten in that form first, and one
    that cannot be read is moved aside. The effect state is checked to be
    the framework's memory-block text of a plausible size.
*/
namespace settingsguard
{
    /** Longest settings file read; a real one is a few kilobytes. */
    static constexpr size_t maxFileBytes = 1024 * 1024;

    /** Largest effect state kept in "filterState"; a real one is well under
        one kilobyte. */
    static constexpr size_t maxStateBytes = 64 * 1024;

    /** The bounds a settings file is read with. */
    untrustedxml::Limits fileLimits();

    /** The text that JUCE's PropertiesFile writes for the values that it would
        read from the given settings text, less the values that are unsafe to
        hand to JUCE (a device set-up that is not XML is cleared, an effect
        state that is not a plausible memory block is removed, and any other
        value that looks like XML without being XML is removed). Empty when
        the text is refused: not a settings document within the bounds. */
    std::optional<juce::MemoryBlock> ownForm (const void* data, size_t numBytes);

    /** True for the framework's text form of a memory block ("N.chars", see
        juce::MemoryBlock::toBase64Encoding) of at most maxStateBytes bytes
        whose characters hold exactly N bytes. */
    bool isMemoryBlockText (const juce::String& text);

    /** What prepare made of a settings file. */
    enum class Outcome
    {
        ready,       ///< missing, or in JUCE's own form now: safe to open
        setAside,    ///< refused and moved to the same name with ".bad" appended
        leftUnread   ///< refused or to be rewritten, but the folder would not allow it
    };

    /** Brings a settings file into JUCE's own form (atomically, keeping its
        values), or moves it aside to "<name>.bad" when it cannot be read:
        unreadable, not a regular file, larger than maxFileBytes, or refused
        by ownForm. A file that can be neither rewritten nor moved is left as
        it is, and must then not be opened at all. */
    Outcome prepare (const juce::File& settingsFile);

    /** Opens a settings file that prepare found ready. For one it left
        unread, an empty set of settings in memory that is never saved. */
    std::unique_ptr<juce::PropertiesFile> open (const juce::File& settingsFile,
                                                const juce::PropertiesFile::Options& options,
                                                Outcome preparedAs);
}
