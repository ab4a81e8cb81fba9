#include "StateBlob.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace
{
    /** The parameter tree connects a parameter to every child with its "id",
        whatever the child's tag, and takes its value from the last one. */
    bool isParameterElement (const juce::ValueTree& child, const juce::RangedAudioParameter& parameter)
    {
        return child.getProperty ("id").toString() == parameter.paramID;
    }

    juce::ValueTree newParameterElement (const juce::RangedAudioParameter& parameter)
    {
        juce::ValueTree element ("PARAM");
        element.setProperty ("id", parameter.paramID, nullptr);
        return element;
    }

    /** The state in the order it is written: the root's attributes, the parameters'
        elements in the order the parameters were created, each with the value the
        parameter holds, then whatever else the tree holds, as it holds it. Without
        the rest, only the parameters' elements with "id" and "value". */
    juce::ValueTree stateToWrite (const juce::ValueTree& state, const juce::AudioProcessorValueTreeState& valueTreeState,
                                  bool withEverythingElse)
    {
        juce::ValueTree ordered (state.getType());
        std::vector<bool> written ((size_t) state.getNumChildren(), false);

        if (withEverythingElse)
            ordered.copyPropertiesFrom (state, nullptr);

        auto add = [&] (int index) {
            ordered.appendChild (state.getChild (index).createCopy(), nullptr);
            written[(size_t) index] = true;
        };

        for (auto* raw : valueTreeState.processor.getParameters())
        {
            if (auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (raw))
            {
                bool found = false;

                for (int i = 0; withEverythingElse && ! found && i < state.getNumChildren(); ++i)
                {
                    if (! written[(size_t) i] && isParameterElement (state.getChild (i), *parameter))
                    {
                        add (i);
                        found = true;
                    }
                }

                if (! found)
                    ordered.appendChild (newParameterElement (*parameter), nullptr);
            }
        }

        if (withEverythingElse)
            for (int i = 0; i < state.getNumChildren(); ++i)
                if (! written[(size_t) i])
                    add (i);

        // Every element of a parameter, a repeated one too, carries its current value.
        for (auto child : ordered)
            if (auto* value = valueTreeState.getRawParameterValue (child.getProperty ("id").toString()))
                child.setProperty ("value", (double) value->load(), nullptr);

        return ordered;
    }
}

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
        return untrustedxml::readDecimalNumber (text);
    }

    void writeState (const juce::ValueTree& state, const juce::AudioProcessorValueTreeState& valueTreeState,
                     juce::MemoryBlock& destination)
    {
        write (*xmlOf (stateToWrite (state, valueTreeState, true)), destination);

        // What is written must be read back at the next start. Content from a
        // restored state that grew past the reader's limits on the way (escaped
        // characters, added values) is left out rather than losing the whole state.
        if (read (destination.getData(), (int) destination.getSize(), state.getType().toString()) == nullptr)
            write (*xmlOf (stateToWrite (state, valueTreeState, false)), destination);
    }

    juce::ValueTree stateToRestore (const juce::XmlElement& xml, const juce::AudioProcessor& processor)
    {
        auto tree = treeOf (xml);

        for (auto* raw : processor.getParameters())
        {
            if (auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (raw))
            {
                for (auto child : tree)
                {
                    // Only a parameter's own value is read as a number, and it reaches the
                    // tree as one within the range; one that is not a finite number is
                    // dropped, so that parameter returns to its default.
                    if (isParameterElement (child, *parameter) && child.hasProperty ("value"))
                    {
                        const auto value = numberOf (child.getProperty ("value").toString());
                        const auto& range = parameter->getNormalisableRange();

                        if (std::isfinite (value))
                            child.setProperty ("value", juce::jlimit ((double) range.start, (double) range.end, value), nullptr);
                        else
                            child.removeProperty ("value", nullptr);
                    }
                }
            }
        }

        // A parameter that the state does not mention needs nothing here: the
        // parameter tree adds an element for it and gives it its default.
        return tree;
    }
}
