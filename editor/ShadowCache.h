#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>
#include <vector>

//==============================================================================
/**
    Draws a juce::DropShadow for a path as juce::DropShadow::drawForPath does,
    but blurs each shape only once: the blurred mask is kept, keyed by the
    shape relative to the whole pixel it starts in, and drawn again wherever
    that shape lies at the same sub-pixel position. Blurring is most of what a
    shadow costs.

    Unlike drawForPath, the mask is always blurred for the whole shape, not
    for the part near the clip, so a partial repaint draws the same pixels as
    a full one.
*/
class ShadowCache
{
public:
    /** Keeps up to maxShapes masks; the one used longest ago makes room. */
    ShadowCache (juce::DropShadow shadowToDraw, size_t maxShapes);
    ~ShadowCache();

    void drawForPath (juce::Graphics& g, const juce::Path& path);

    /** Masks kept now. */
    size_t size() const noexcept { return entries.size(); }

private:
    struct Entry
    {
        juce::Path shape;
        juce::Image mask;              // invalid when the shadow is too small to draw
        juce::Point<int> maskOrigin;   // relative to the shape's first whole pixel
        std::uint64_t lastUse = 0;
    };

    Entry& find (const juce::Path& shape);
    Entry render (const juce::Path& shape, juce::Rectangle<int> shapeArea) const;

    juce::DropShadow shadow;
    size_t capacity;
    std::vector<Entry> entries;
    std::uint64_t uses = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ShadowCache)
};
