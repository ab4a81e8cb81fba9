#pragma once

#include "SettingsGuard.h"

#include <juce_data_structures/juce_data_structures.h>

#include <memory>

/** The settings files on disk: how they are read at start-up, and how every
    save reaches the disk whole or not at all.

    JUCE's own PropertiesFile never touches the disk here: it parses the file
    with JUCE's parser, which is not safe on hostile text, and its writer
    ignores a short write, so on a full disk it renames a truncated file over
    a good one. Files are read (bounded) and checked by settingsguard, and
    written by writeDurably.
*/
namespace settingsfile
{
    /** Writes the data to a temporary file beside the target, syncs it, renames
        it over the target and syncs the folder. On failure the target is left
        as it was, the temporary file is removed, and the reason is returned in
        error (as the system words it, e.g. "No space left on device"). */
    bool writeDurably (const juce::File& target, const juce::MemoryBlock& data, juce::String& error);

    /** Removes the temporary files that an interrupted save of the given file
        left beside it, ours and those of JUCE's own writer. */
    void removeStaleTemporaries (const juce::File& target);

    /** Writes the one line that says a save failed, and why, to standard error. */
    void reportFailedSave (const juce::File& target, const juce::String& why);

    /** What prepare made of a settings file. */
    enum class Outcome
    {
        ready,       ///< missing, or read; the values are those to use
        setAside,    ///< refused and moved to the same name with ".bad" appended
        leftUnread   ///< refused, but the folder would not let it be moved aside
    };

    struct Prepared
    {
        Outcome outcome = Outcome::ready;
        juce::StringPairArray values { false };
    };

    /** Reads a settings file at start-up: a missing file gives no values; one
        that is unreadable, not a regular file, larger than the bounds or refused
        by settingsguard is moved aside to "<name>.bad". A readable file that is
        not in the form Quillo writes is rewritten in that form (durably; if that
        fails, the file stays as it was and the values are used all the same). */
    Prepared prepare (const juce::File& settingsFile);

    //==============================================================================
    /** A set of settings that the host reads and writes like a PropertiesFile
        (it is one), but whose content comes from prepare and whose saves (the
        timed save after a change, saveIfNeeded, and the one when it is deleted)
        go through writeDurably, within the bounds the file is read with. A save
        that fails keeps the previous file and says why on standard error. */
    class Settings : public juce::PropertiesFile
    {
    public:
        /** Settings saved to target, holding the given values. With an empty
            target nothing is ever written. */
        Settings (const juce::File& target, const juce::StringPairArray& values, const Options& fileOptions);
        ~Settings() override;

        /** Writes the values if they have changed since the last save. */
        bool saveIfNeeded();

        /** Writes the values. */
        bool save();

        const juce::File& getTarget() const noexcept { return target; }

    private:
        void timerCallback() override;

        const juce::File target;

        // A failed save has said so once; the one when deleted does not repeat it.
        bool lastSaveFailed = false;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Settings)
    };

    //==============================================================================
    /** The user's settings, falling back to the all-users settings, as the
        application opens and saves them. */
    class SettingsFiles
    {
    public:
        /** Prepares and opens both files for these options; a file that must be
            left unread gives empty settings that are never written, and a line
            on standard error. */
        explicit SettingsFiles (const juce::PropertiesFile::Options& options);

        Settings& getUserSettings() noexcept { return *user; }
        Settings& getCommonSettings() noexcept { return *common; }

        /** Saves the user's settings if they changed, then the all-users ones
            unless that failed. */
        bool saveIfNeeded();

    private:
        static std::unique_ptr<Settings> open (const juce::PropertiesFile::Options& options);

        std::unique_ptr<Settings> common, user;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SettingsFiles)
    };
}
