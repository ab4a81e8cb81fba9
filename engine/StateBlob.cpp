#include "StateBlob.h"
#include "Utf8.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace stateblob
{
namespace
{
    /** Every "value" is rewritten as a plain number before the parameter tree
        reads it: the framework's own number parsing overflows an int on long
        exponents. One that is not a finite number is dropped, so that
        parameter returns to its default instead of carrying NaN or infinity. */
    void canonicaliseValues (juce::XmlElement& root)
    {
        for (auto* child : root.getChildIterator())
        {
            if (! child->hasAttribute ("value"))
                continue;

            const auto value = std::strtod (child->getStringAttribute ("value").toRawUTF8(), nullptr);

            if (std::isfinite (value))
            {
                char text[48];
                std::snprintf (text, sizeof (text), "%.20g", value);
                child->setAttribute ("value", text);
            }
            else
            {
                child->removeAttribute ("value");
            }
        }
    }
}

bool isSafeXmlText (const char* text, size_t numBytes)
{
    if (numBytes > maxTextBytes || ! isValidUtf8 (text, numBytes))
        return false;

    int depth = 0;
    size_t i = 0;

    while (i < numBytes)
    {
        if (text[i] != '<') { ++i; continue; }

        if (i + 1 >= numBytes)
            return false;

        const auto next = text[i + 1];

        if (next == '?' || next == '!')
            return false;

        if (next == '/')
        {
            if (--depth < 0)
                return false;

            while (i < numBytes && text[i] != '>')
                ++i;

            continue;
        }

        // An opening tag: skip to its end, stepping over quoted attribute values.
        ++i;
        char quote = 0;
        char previous = 0;

        while (i < numBytes)
        {
            const auto c = text[i];

            if (quote != 0)
            {
                if (c == quote)
                    quote = 0;
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '>' || c == '<')
            {
                break;
            }

            previous = c;
            ++i;
        }

        if (i >= numBytes || text[i] != '>')
            return false;

        if (previous != '/' && ++depth > maxDepth)
            return false;

        ++i;
    }

    return true;
}

void write (const juce::XmlElement& element, juce::MemoryBlock& destination)
{
    destination.reset();

    {
        juce::MemoryOutputStream out (destination, false);
        out.writeInt ((int) magic);
        out.writeInt (0);
        element.writeTo (out, juce::XmlElement::TextFormat().singleLine().withoutHeader());
        out.writeByte (0);
    }

    const auto length = (juce::uint32) destination.getSize() - 9;
    auto* header = static_cast<juce::uint8*> (destination.getData()) + 4;

    for (int k = 0; k < 4; ++k)
        header[k] = (juce::uint8) (length >> (8 * k));
}

std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes, const juce::String& expectedTag)
{
    if (data == nullptr || sizeInBytes < 9)
        return {};

    const auto* bytes = static_cast<const juce::uint8*> (data);

    if (juce::ByteOrder::littleEndianInt (bytes) != magic)
        return {};

    const auto length = (juce::int32) juce::ByteOrder::littleEndianInt (bytes + 4);

    if (length <= 0)
        return {};

    const auto* text = reinterpret_cast<const char*> (bytes + 8);
    auto numBytes = (size_t) juce::jmin ((juce::int64) length, (juce::int64) sizeInBytes - 8);

    if (const auto* zero = static_cast<const char*> (std::memchr (text, 0, numBytes)))
        numBytes = (size_t) (zero - text);

    if (! isSafeXmlText (text, numBytes))
        return {};

    auto root = juce::XmlDocument::parse (juce::String::fromUTF8 (text, (int) numBytes));

    if (root == nullptr || ! root->getTagName().equalsIgnoreCase (expectedTag))
        return {};

    canonicaliseValues (*root);
    return root;
}
}
