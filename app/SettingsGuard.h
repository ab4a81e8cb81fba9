#pragma once

#include "StateBlob.h"
#include "UntrustedXml.h"

#include <juce_data_structures/juce_data_structures.h>

#include <optional>

/** The text rules for settings files: what Quillo reads from one, and what it
    writes. Pure functions on text; the file handling is in SettingsFile.h.

    JUCE's XML parser is not safe on hostile text, and the host reads some
    values with readers that are not safe either (a long exponent overflows
    its number reader, a long channel mask takes quadratic time, a window
    position near the int range overflows its screen arithmetic). So a file
    is read by the project's own XML reader, every value the host interprets
    is checked as the host will read it, and a value that fails is dropped on
    its own. What is written is JUCE's PropertiesFile layout of the values,
    within the same bounds the reader applies, so that a file Quillo wrote is
    never refused at the next start.
*/
namespace settingsguard
{
    /** Longest settings file read or written; a real one is a few kilobytes. */
    static constexpr size_t maxFileBytes = 1024 * 1024;

    /** The bounds a settings file is read with, and kept within when written. */
    untrustedxml::Limits fileLimits();

    /** A window edge further than this from the origin is dropped: JUCE adds
        window sizes and display extents to it in int arithmetic, and no real
        arrangement of screens comes near this. */
    static constexpr int maxWindowCoordinate = 1 << 20;

    /** Bounds of the device set-up that the host hands to its device manager. */
    static constexpr double maxSampleRate = 1.0e6;
    static constexpr int maxBufferSize = 1 << 18;
    static constexpr int maxChannelMaskDigits = 1024;
    static constexpr int maxNameLength = 1024;
    static constexpr int maxMidiEntries = 256;

    /** The values a settings file holds, as JUCE's PropertiesFile would read
        them, less those that are unsafe to hand to the host: a device set-up
        that is not XML is cleared and its unsafe attributes removed, and an
        effect state that is not a plausible memory block, a window position
        out of range, an input muting that is not "0" or "1" and any other
        value that JUCE would parse as XML without its being XML are removed.
        Empty when the text is refused: not a settings document within the
        bounds. */
    std::optional<juce::StringPairArray> readValues (const void* data, size_t numBytes);

    /** The file text for the values, as JUCE's PropertiesFile writes it (a
        value that is XML as an element, any other as an attribute). Empty when
        that text would exceed the bounds that a settings file is read with. */
    std::optional<juce::MemoryBlock> fileText (const juce::StringPairArray& values);

    /** fileText of readValues: the text that replaces the given one at start-up. */
    std::optional<juce::MemoryBlock> ownForm (const void* data, size_t numBytes);

    /** True when JUCE reads the value as XML: its first character that is not
        white space is '<'. */
    bool looksLikeXml (const juce::String& value);

    /** True for the framework's text form of a memory block ("N.chars", see
        juce::MemoryBlock::toBase64Encoding) of at most stateblob::maxBytes
        bytes whose characters hold exactly N bytes. */
    bool isMemoryBlockText (const juce::String& text);

    /** Removes from a device set-up what its device manager must not read: a
        sample rate or buffer size that is not a plain number within range, a
        channel mask that is not binary digits of a bounded length, any other
        attribute longer than maxNameLength, and MIDI entries past the
        maxMidiEntries-th. */
    void removeUnsafeDeviceSettings (juce::XmlElement& deviceSetup);
}
