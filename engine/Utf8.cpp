#include "Utf8.h"

bool isValidUtf8 (const void* data, size_t numBytes) noexcept
{
    const auto* bytes = static_cast<const juce::uint8*> (data);
    size_t i = 0;

    while (i < numBytes)
    {
        const auto lead = bytes[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t extra;
        juce::uint32 codePoint, minimum;

        if ((lead & 0xe0) == 0xc0)      { extra = 1; codePoint = lead & 0x1fu; minimum = 0x80; }
        else if ((lead & 0xf0) == 0xe0) { extra = 2; codePoint = lead & 0x0fu; minimum = 0x800; }
        else if ((lead & 0xf8) == 0xf0) { extra = 3; codePoint = lead & 0x07u; minimum = 0x10000; }
        else                            return false;

        if (numBytes - i <= extra)
            return false;

        for (size_t k = 1; k <= extra; ++k)
        {
            const auto next = bytes[i + k];

            if ((next & 0xc0) != 0x80)
                return false;

            codePoint = (codePoint << 6) | (next & 0x3fu);
        }

        if (codePoint < minimum || codePoint > 0x10ffff || (codePoint >= 0xd800 && codePoint <= 0xdfff))
            return false;

        i += extra + 1;
    }

    return true;
}
