#include "SettingsGuard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

        // The host parses these two itself: the device set-up as XML, the effect
        // state as a memory block.
        constexpr auto deviceSetupKey = "audioSetup";
        constexpr auto effectStateKey = "filterState";

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

        //==============================================================================
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

        bool replaceAtomically (const juce::File& file, const juce::MemoryBlock& content)
        {
            juce::TemporaryFile temporary (file);

            {
                juce::FileOutputStream out (temporary.getFile());

                if (! out.openedOk() || ! out.write (content.getData(), content.getSize()))
                    return false;

                out.flush();

                if (out.getStatus().failed())
                    return false;
            }

            return temporary.overwriteTargetFileWithTemporary();
        }

        bool moveAside (const juce::File& file)
        {
            // A plain rename, which replaces an older ".bad" file: JUCE's
            // File::moveFileTo falls back to copying, which never ends on a link
            // to an endless device.
            const auto aside = file.getSiblingFile (file.getFileName() + ".bad");
            return std::rename (file.getFullPathName().toRawUTF8(), aside.getFullPathName().toRawUTF8()) == 0;
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

    std::optional<juce::MemoryBlock> ownForm (const void* data, size_t numBytes)
    {
        const auto file = untrustedxml::parse (data, numBytes, fileLimits());

        if (file == nullptr || ! file->hasTagName (fileTag))
            return {};

        // The values as PropertiesFile reads them: later keys replace earlier ones
        // in place, and an element inside a VALUE is the value as one line of XML.
        // One that cannot be written on one line stands as a lone '<': not XML, so
        // it is dropped below.
        juce::StringPairArray values (false);

        for (auto* element : file->getChildWithTagNameIterator (valueTag))
        {
            const auto name = element->getStringAttribute (nameAttribute);

            if (name.isEmpty())
                continue;

            const auto* child = element->getFirstChildElement();

            if (child == nullptr)
                values.set (name, element->getStringAttribute (valueAttribute));
            else if (isWritableOnOneLine (*child))
                values.set (name, child->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader()));
            else
                values.set (name, "<");
        }

        // ...and written as PropertiesFile writes them: a value that is XML as an
        // element, any other as an attribute. PropertiesFile finds out which by
        // parsing every value with JUCE's parser, at every save, so a value that
        // looks like XML but is not cannot be kept.
        juce::XmlElement document (fileTag);

        for (int i = 0; i < values.size(); ++i)
        {
            const auto& name = values.getAllKeys()[i];
            auto value = values.getAllValues()[i];
            std::unique_ptr<juce::XmlElement> xml;

            if (name == effectStateKey)
            {
                if (! isMemoryBlockText (value))
                    continue;
            }
            else
            {
                xml = parseValue (value);

                if (xml == nullptr && name == deviceSetupKey)
                    value = {};
                else if (xml == nullptr && value.containsChar ('<'))
                    continue;
            }

            auto* entry = document.createNewChildElement (valueTag);
            entry->setAttribute (nameAttribute, name);

            if (xml != nullptr)
                entry->addChildElement (xml.release());
            else
                entry->setAttribute (valueAttribute, value);
        }

        juce::MemoryOutputStream text;
        document.writeTo (text, {});

        // What is written now must not be refused at the next start.
        if (untrustedxml::parse (text.getData(), text.getDataSize(), fileLimits()) == nullptr)
            return {};

        return text.getMemoryBlock();
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

            if (size > maxStateBytes)
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

    Outcome prepare (const juce::File& settingsFile)
    {
        juce::MemoryBlock content;
        const auto status = readAtMost (settingsFile, maxFileBytes, content);

        if (status == ReadStatus::missing)
            return Outcome::ready;

        if (status == ReadStatus::complete)
        {
            if (const auto form = ownForm (content.getData(), content.getSize()))
                return *form == content || replaceAtomically (settingsFile, *form) ? Outcome::ready
                                                                                   : Outcome::leftUnread;
        }

        return moveAside (settingsFile) ? Outcome::setAside : Outcome::leftUnread;
    }

    std::unique_ptr<juce::PropertiesFile> open (const juce::File& settingsFile,
                                                const juce::PropertiesFile::Options& options,
                                                Outcome preparedAs)
    {
        if (preparedAs != Outcome::leftUnread)
            return std::make_unique<juce::PropertiesFile> (settingsFile, options);

        // No file: nothing is read, and nothing can ever be written over the one
        // that was left alone.
        auto inMemory = options;
        inMemory.doNotSave = true;
        inMemory.millisecondsBeforeSaving = -1;
        return std::make_unique<juce::PropertiesFile> (juce::File(), inMemory);
    }
}
