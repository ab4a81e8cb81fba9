#include "SettingsFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settingsfile
{
    namespace
    {
        enum class ReadStatus
        {
            missing,
            unreadable,
            complete
        };

        /** Reads a regular file of at most maxBytes. Anything else (a device, a
            pipe, a folder, a longer file) is never read to its end. */
        ReadStatus readAtMost (const juce::File& file, size_t maxBytes, juce::MemoryBlock& content)
        {
            // Non-blocking, so that opening a pipe returns at once.
            const auto fd = ::open (file.getFullPathName().toRawUTF8(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);

            if (fd < 0)
                return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? ReadStatus::missing
                                                                             : ReadStatus::unreadable;

            const juce::ScopeGuard closeFile { [fd] { ::close (fd); } };

            struct stat status = {};

            if (::fstat (fd, &status) != 0 || ! S_ISREG (status.st_mode))
                return ReadStatus::unreadable;

            // One byte more than allowed tells a file that is too long.
            content.setSize (maxBytes + 1);
            size_t numRead = 0;

            while (numRead < content.getSize())
            {
                const auto n = ::read (fd, static_cast<char*> (content.getData()) + numRead, content.getSize() - numRead);

                if (n == 0)
                    break;

                if (n < 0)
                {
                    if (errno == EINTR)
                        continue;

                    return ReadStatus::unreadable;
                }

                numRead += (size_t) n;
            }

            content.setSize (numRead);
            return numRead <= maxBytes ? ReadStatus::complete : ReadStatus::unreadable;
        }

        bool moveAside (const juce::File& file)
        {
            // A plain rename, which replaces an older ".bad" file: JUCE's
            // File::moveFileTo falls back to copying, which never ends on a link
            // to an endless device.
            const auto aside = file.getSiblingFile (file.getFileName() + ".bad");
            return std::rename (file.getFullPathName().toRawUTF8(), aside.getFullPathName().toRawUTF8()) == 0;
        }

        juce::String systemError (int error)
        {
            return juce::String (std::strerror (error));
        }

        bool writeAll (int fd, const char* data, size_t size, juce::String& error)
        {
            // A full disk shows as a short count first and an error on the next
            // call; both must end the save.
            while (size > 0)
            {
                const auto n = ::write (fd, data, size);

                if (n < 0 && errno == EINTR)
                    continue;

                if (n <= 0)
                {
                    error = n < 0 ? systemError (errno) : juce::String ("nothing could be written");
                    return false;
                }

                data += n;
                size -= (size_t) n;
            }

            return true;
        }

        bool syncFolder (const juce::File& folder, juce::String& error)
        {
            const auto fd = ::open (folder.getFullPathName().toRawUTF8(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);

            if (fd < 0 || ::fsync (fd) != 0)
                error = systemError (errno);

            if (fd >= 0)
                ::close (fd);

            return error.isEmpty();
        }

        /** The temporary files of a target "name.ext": "name_temp*.ext", the
            pattern JUCE's juce::TemporaryFile uses as well. */
        juce::String temporaryPrefix (const juce::File& target) { return target.getFileNameWithoutExtension() + "_temp"; }
    }

    //==============================================================================
    bool writeDurably (const juce::File& target, const juce::MemoryBlock& data, juce::String& error)
    {
        error.clear();
        const auto folder = target.getParentDirectory();

        if (! folder.createDirectory())
        {
            error = "cannot create the folder " + folder.getFullPathName();
            return false;
        }

        const auto suffix = target.getFileExtension();
        auto path = folder.getChildFile (temporaryPrefix (target) + "XXXXXX" + suffix).getFullPathName().toStdString();
        const auto fd = ::mkostemps (path.data(), (int) suffix.getNumBytesAsUTF8(), O_CLOEXEC);

        if (fd < 0)
        {
            error = systemError (errno);
            return false;
        }

        bool written = writeAll (fd, static_cast<const char*> (data.getData()), data.getSize(), error)
                       && (::fsync (fd) == 0 || (error = systemError (errno), false));

        if (::close (fd) != 0 && written)
        {
            error = systemError (errno);
            written = false;
        }

        if (written && std::rename (path.c_str(), target.getFullPathName().toRawUTF8()) != 0)
        {
            error = systemError (errno);
            written = false;
        }

        if (! written)
        {
            ::unlink (path.c_str());
            return false;
        }

        return syncFolder (folder, error);
    }

    void removeStaleTemporaries (const juce::File& target)
    {
        const auto pattern = temporaryPrefix (target) + "*" + target.getFileExtension();

        for (const auto& stale : target.getParentDirectory().findChildFiles (juce::File::findFiles, false, pattern))
            ::unlink (stale.getFullPathName().toRawUTF8());
    }

    void reportFailedSave (const juce::File& target, const juce::String& why)
    {
        std::fprintf (stderr, "Quillo: the settings could not be saved to %s (%s); the file is left as it was.\n",
                      target.getFullPathName().toRawUTF8(), why.toRawUTF8());
        std::fflush (stderr);
    }

    Prepared prepare (const juce::File& settingsFile)
    {
        removeStaleTemporaries (settingsFile);

        juce::MemoryBlock content;
        const auto status = readAtMost (settingsFile, settingsguard::maxFileBytes, content);

        if (status == ReadStatus::missing)
            return {};

        if (status == ReadStatus::complete)
        {
            if (auto values = settingsguard::readValues (content.getData(), content.getSize()))
            {
                // A file that would be refused once written in Quillo's form is
                // refused now, rather than at the next start.
                if (const auto form = settingsguard::fileText (*values))
                {
                    juce::String error;

                    if (*form != content && ! writeDurably (settingsFile, *form, error))
                        reportFailedSave (settingsFile, error);

                    return { Outcome::ready, *values };
                }
            }
        }

        return { moveAside (settingsFile) ? Outcome::setAside : Outcome::leftUnread, {} };
    }

    //==============================================================================
    namespace
    {
        juce::PropertiesFile::Options withoutJuceSaving (juce::PropertiesFile::Options options)
        {
            // The base class is given no file, so it neither reads nor writes one.
            options.doNotSave = true;
            return options;
        }
    }

    Settings::Settings (const juce::File& targetFile, const juce::StringPairArray& values, const Options& fileOptions)
        : juce::PropertiesFile (juce::File(), withoutJuceSaving (fileOptions)), target (targetFile)
    {
        getAllProperties().addArray (values);
    }

    Settings::~Settings()
    {
        if (! lastSaveFailed)
            saveIfNeeded();
    }

    bool Settings::saveIfNeeded()
    {
        const juce::ScopedLock sl (getLock());
        return ! needsToBeSaved() || save();
    }

    bool Settings::save()
    {
        const juce::ScopedLock sl (getLock());

        // The base class stops its save timer, and, having no file, writes nothing.
        juce::PropertiesFile::save();

        if (target == juce::File())
            return false;

        const auto text = settingsguard::fileText (getAllProperties());
        juce::String error;

        if (! text)
            error = "they would exceed the largest settings file that Quillo reads";
        else if (writeDurably (target, *text, error))
        {
            setNeedsToBeSaved (false);
            lastSaveFailed = false;
            return true;
        }

        reportFailedSave (target, error);
        lastSaveFailed = true;
        return false;
    }

    void Settings::timerCallback()
    {
        saveIfNeeded();
    }

    //==============================================================================
    SettingsFiles::SettingsFiles (const juce::PropertiesFile::Options& options)
    {
        auto userOptions = options;
        userOptions.commonToAllUsers = false;
        auto commonOptions = options;
        commonOptions.commonToAllUsers = true;

        user = open (userOptions);
        common = open (commonOptions);
        user->setFallbackPropertySet (common.get());
    }

    std::unique_ptr<Settings> SettingsFiles::open (const juce::PropertiesFile::Options& options)
    {
        const auto file = options.getDefaultFile();
        const auto prepared = prepare (file);

        if (prepared.outcome != Outcome::leftUnread)
            return std::make_unique<Settings> (file, prepared.values, options);

        std::fprintf (stderr, "Quillo: cannot read the settings file %s safely, nor move it aside;"
                              " leaving it untouched and starting without its settings.\n",
                      file.getFullPathName().toRawUTF8());
        std::fflush (stderr);

        // Nothing can ever be written over the file that was left alone.
        return std::make_unique<Settings> (juce::File(), juce::StringPairArray(), options);
    }

    bool SettingsFiles::saveIfNeeded()
    {
        return user->saveIfNeeded() && common->saveIfNeeded();
    }
}
