#pragma once

#include "UntrustedXml.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

/** The effect state as bytes: "VC2!", a 32-bit little-endian length L, L bytes
    of one-line XML without declaration, and a terminating zero byte. */
namespace stateblob
{
    static constexpr juce::uint32 magic = 0x21324356;

    /** What a state's XML text may be: a real state is well under 1 KB and nests two deep. */
    inline constexpr untrustedxml::Limits limits {};

    /** Largest blob that can hold such a state: the header, the text and its zero
        byte. Anything that keeps a blob (the host's settings file) keeps no more. */
    inline constexpr size_t maxBytes = 8 + limits.maxBytes + 1;

    /** Replaces the block's content with the blob of the element. */
    void write (const juce::XmlElement& element, juce::MemoryBlock& destination);

    /** The root element of a blob whose tag equals expectedTag ignoring case,
        or null for anything else. The text goes through the untrusted-XML
        reader only; never reads outside [data, data + size). */
    std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes, const juce::String& expectedTag);

    /** The tree that the XML describes, every attribute a text property. Unlike
        juce::ValueTree::fromXml this decodes nothing: an attribute named
        "base64:..." stays the text it was. Text elements are dropped, as a tree
        cannot hold them. */
    juce::ValueTree treeOf (const juce::XmlElement& element);

    /** The XML of a tree, children in the tree's order; numbers are written with
        numberText, everything else as its text. */
    std::unique_ptr<juce::XmlElement> xmlOf (const juce::ValueTree& tree);

    /** A number as the state has always written it: up to 20 significant digits, no trailing zeros. */
    juce::String numberText (double value);

    /** The number that a state's "value" text stands for: a decimal number read as
        far as it goes, 0 when it starts with none. May be NaN or infinite. */
    double numberOf (const juce::String& text);

    /** Writes the effect's state: the root's attributes, one element per parameter
        in the order the parameters were created, each carrying the value its
        parameter holds, then whatever else the tree holds, as it holds it. What is
        written always reads back; if the whole tree would not, only the
        parameters' elements are written. */
    void writeState (const juce::ValueTree& state, const juce::AudioProcessorValueTreeState& valueTreeState,
                     juce::MemoryBlock& destination);

    /** The tree to restore from a state's root element: every parameter's value
        read as a finite number within its range, or dropped, so the parameter
        takes its default (as does one the state does not mention). Everything
        else is kept as read. */
    juce::ValueTree stateToRestore (const juce::XmlElement& xml, const juce::AudioProcessor& processor);
}
