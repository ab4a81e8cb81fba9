#include "StateBlob.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace stateblob
{
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

    auto root = untrustedxml::parse (text, numBytes, limits);

    if (root == nullptr || ! root->getTagName().equalsIgnoreCase (expectedTag))
        return {};

    return root;
}

juce::ValueTree treeOf (const juce::XmlElement& element)
{
    juce::ValueTree root (element.getTagName());
    std::vector<std::pair<const juce::XmlElement*, juce::ValueTree>> pending { { &element, root } };

    while (! pending.empty())
    {
        auto [xml, tree] = std::move (pending.back());
        pending.pop_back();

        for (int i = 0; i < xml->getNumAttributes(); ++i)
            tree.setProperty (xml->getAttributeName (i), xml->getAttributeValue (i), nullptr);

        for (const auto* child : xml->getChildIterator())
        {
            if (child->isTextElement())
                continue;

            juce::ValueTree childTree (child->getTagName());
            tree.appendChild (childTree, nullptr);
            pending.emplace_back (child, childTree);
        }
    }

    return root;
}

std::unique_ptr<juce::XmlElement> xmlOf (const juce::ValueTree& tree)
{
    auto root = std::make_unique<juce::XmlElement> (tree.getType().toString());
    std::vector<std::pair<juce::ValueTree, juce::XmlElement*>> pending { { tree, root.get() } };

    while (! pending.empty())
    {
        auto [node, element] = std::move (pending.back());
        pending.pop_back();

        for (int i = 0; i < node.getNumProperties(); ++i)
        {
            const auto name = node.getPropertyName (i);
            const auto& value = node.getProperty (name);
            element->setAttribute (name, value.isDouble() || value.isInt() || value.isInt64() ? numberText ((double) value)
                                                                                           : value.toString());
        }

        // Prepended from the last, as appending walks the whole child list each time.
        for (int i = node.getNumChildren(); --i >= 0;)
        {
            const auto child = node.getChild (i);
            auto* childElement = new juce::XmlElement (child.getType().toString());
            element->prependChildElement (childElement);
            pending.emplace_back (child, childElement);
        }
    }

    return root;
}

juce::String numberText (double value)
{
    char text[48];
    std::snprintf (text, sizeof (text), "%.20g", value);
    return text;
}

double numberOf (const juce::String& text)
{
    // Not the framework's own number reading, which overflows an int on long exponents.
    return std::strtod (text.toRawUTF8(), nullptr);
}
}
