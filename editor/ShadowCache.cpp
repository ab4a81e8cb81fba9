#include "ShadowCache.h"

#include <algorithm>

namespace
{
    /** One pass of a three-tap box filter along num values, delta apart,
        rounding as juce::DropShadow's blur does, so the pixels come out the same. */
    void blurTriplets (juce::uint8* d, int num, int delta) noexcept
    {
        juce::uint32 last = d[0];
        d[0] = (juce::uint8) ((d[0] + d[delta] + 1) / 3);
        d += delta;

        for (num -= 2; num > 0; --num)
        {
            const juce::uint32 current = d[0];
            d[0] = (juce::uint8) ((last + current + d[delta] + 1) / 3);
            d += delta;
            last = current;
        }

        d[0] = (juce::uint8) ((last + d[0] + 1) / 3);
    }

    /** 2 * radius passes along every row, then along every column. */
    void blur (juce::Image& image, int radius)
    {
        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readWrite);
        const auto passes = 2 * radius;

        for (int y = 0; y < pixels.height; ++y)
            for (int i = 0; i < passes; ++i)
                blurTriplets (pixels.getLinePointer (y), pixels.width, pixels.pixelStride);

        for (int x = 0; x < pixels.width; ++x)
            for (int i = 0; i < passes; ++i)
                blurTriplets (pixels.getPixelPointer (x, 0), pixels.height, pixels.lineStride);
    }
}

ShadowCache::ShadowCache (juce::DropShadow shadowToDraw, size_t maxShapes)
    : shadow (shadowToDraw), capacity (juce::jmax ((size_t) 1, maxShapes))
{
    jassert (shadow.radius > 0);
}

ShadowCache::~ShadowCache() = default;

void ShadowCache::drawForPath (juce::Graphics& g, const juce::Path& path)
{
    const auto shapeArea = path.getBounds().getSmallestIntegerContainer();
    const auto reach = shadow.radius + 1;

    if (! g.clipRegionIntersects ((shapeArea + shadow.offset).expanded (reach)))
        return;

    // The same shape at the same sub-pixel position casts the same mask.
    auto shape = path;
    shape.applyTransform (juce::AffineTransform::translation ((float) -shapeArea.getX(), (float) -shapeArea.getY()));

    const auto& entry = find (shape);

    if (! entry.mask.isValid())
        return;

    g.setColour (shadow.colour);
    g.drawImageAt (entry.mask, shapeArea.getX() + entry.maskOrigin.x, shapeArea.getY() + entry.maskOrigin.y, true);
}

ShadowCache::Entry& ShadowCache::find (const juce::Path& shape)
{
    ++uses;

    for (auto& entry : entries)
        if (entry.shape == shape)
        {
            entry.lastUse = uses;
            return entry;
        }

    auto fresh = render (shape, shape.getBounds().getSmallestIntegerContainer());
    fresh.lastUse = uses;

    if (entries.size() < capacity)
    {
        entries.push_back (std::move (fresh));
        return entries.back();
    }

    auto& oldest = *std::min_element (entries.begin(), entries.end(),
                                      [] (const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
    oldest = std::move (fresh);
    return oldest;
}

ShadowCache::Entry ShadowCache::render (const juce::Path& shape, juce::Rectangle<int> shapeArea) const
{
    Entry entry;
    entry.shape = shape;

    const auto area = (shapeArea + shadow.offset).expanded (shadow.radius + 1);

    // The blur needs three pixels in either direction.
    if (area.getWidth() <= 2 || area.getHeight() <= 2)
        return entry;

    entry.maskOrigin = area.getPosition();
    entry.mask = juce::Image (juce::Image::SingleChannel, area.getWidth(), area.getHeight(), true);

    {
        juce::Graphics g (entry.mask);
        g.setColour (juce::Colours::white);
        g.fillPath (shape, juce::AffineTransform::translation ((float) (shadow.offset.x - area.getX()),
                                                               (float) (shadow.offset.y - area.getY())));
    }

    blur (entry.mask, shadow.radius);
    return entry;
}
