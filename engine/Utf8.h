#pragma once

#include <juce_core/juce_core.h>

/** True for strict UTF-8: no overlong forms, surrogates or code points beyond
    U+10FFFF, and no sequence cut off at the end. JUCE's XML parser is not safe
    on anything else, so every text is checked with this before it is parsed. */
bool isValidUtf8 (const void* data, size_t numBytes) noexcept;
