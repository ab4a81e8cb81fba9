#pragma once

#include <juce_core/juce_core.h>

#include <memory>

/** The one reader for XML text that did not come from JUCE's own writer: saved
    states, settings files, typed text. JUCE's XmlDocument is recursive and
    misreads hostile text, so it only ever sees text that JUCE itself wrote. */
namespace untrustedxml
{
    struct Limits
    {
        /** Longest input accepted. */
        size_t maxBytes = 64 * 1024;

        /** Deepest nesting accepted; the root element is at depth 1. */
        int maxDepth = 16;

        int maxAttributesPerElement = 64;

        /** Most elements in the whole document, text elements included. */
        int maxElements = 4096;
    };

    /** The document's root element, or null for anything refused: malformed XML, bad UTF-8, over a limit,
        any DTD/DOCTYPE, entities other than XML's five and numeric character references, processing instructions
        (an XML declaration at the very start is allowed), ... Never recursive; never reads outside the input.

        The text is always read as UTF-8, whatever its declaration says. The tree has the shape that
        juce::XmlDocument gives well-formed text: character data between tags becomes one text element
        unless it is only white space, CDATA sections are read as text, comments are dropped.
        Tag and attribute names are kept as written: no namespace processing, and an attribute such as
        "base64:x" is just a name. */
    std::unique_ptr<juce::XmlElement> parse (const void* data, size_t numBytes, const Limits& limits);

    /** The decimal number that the text starts with, after any white space, read as far as it
        goes, as the framework's own reader reads it: an optional sign, digits with at most one
        decimal point, an optional exponent; "nan" and "inf" in any case. Anything else ends the
        number, so "0x5" and "0x1p-2" read as 0, and text that starts with no number gives 0.
        Unlike the framework's reader, an exponent of any length is safe: a huge one gives an
        infinity or 0. May be NaN or infinite. */
    double readDecimalNumber (const juce::String& text);
}
