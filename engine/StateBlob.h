#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** The effect state as bytes: "VC2!", a 32-bit little-endian length L, L bytes
    of one-line XML without declaration, and a terminating zero byte. */
namespace stateblob
{
    static constexpr juce::uint32 magic = 0x21324356;

    /** Longest XML text accepted; a real state is well under 1 KB. */
    static constexpr size_t maxTextBytes = 64 * 1024;

    /** Deepest element nesting accepted; a real state nests two deep. */
    static constexpr int maxDepth = 16;

    /** Replaces the block's content with the blob of the element. */
    void write (const juce::XmlElement& element, juce::MemoryBlock& destination);

    /** The root element of a blob whose tag equals expectedTag ignoring case,
        or null for anything else. Never reads outside [data, data + size). */
    std::unique_ptr<juce::XmlElement> read (const void* data, int sizeInBytes, const juce::String& expectedTag);

    /** True for text that the XML parser can be trusted with: strict UTF-8, no
        declaration, document type, processing instruction, comment or CDATA,
        and bounded nesting. */
    bool isSafeXmlText (const char* text, size_t numBytes);
}
