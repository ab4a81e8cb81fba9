// Shadows drawn from a kept mask must look exactly like the framework's own
// drop shadow, wherever the shape lies, however often it moves.

#include "EditorTestSupport.h"
#include "ShadowCache.h"

#include <gtest/gtest.h>

namespace
{
    using namespace editor_testing;

    const juce::DropShadow shadow { juce::Colour (0x4c000000), 10, { 0, 0 } };
    const juce::Colour panel { 0xff414141 };

    int largestDifference (const juce::Image& a, const juce::Image& b)
    {
        int largest = 0;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                largest = juce::jmax (largest, channelDifference (a.getPixelAt (x, y), b.getPixelAt (x, y)));

        return largest;
    }

    /** An opaque picture with the shadow of the path drawn over it by draw (g, path). */
    template <typename Draw>
    juce::Image withShadow (const juce::Path& path, Draw&& draw, juce::Rectangle<int> clip = { 0, 0, 120, 100 })
    {
        juce::Image image (juce::Image::ARGB, 120, 100, true);
        juce::Graphics g (image);
        g.fillAll (panel);
        g.reduceClipRegion (clip);
        draw (g, path);
        return image;
    }

    juce::Image framework (const juce::Path& path)
    {
        return withShadow (path, [] (auto& g, auto& p) { shadow.drawForPath (g, p); });
    }

    juce::Path square (float x, float y)
    {
        juce::Path path;
        path.addRectangle (x, y, 8.0f, 8.0f);
        return path;
    }

    juce::Path roundedRectangle (float x, float y, float w, float h)
    {
        juce::Path path;
        path.addRoundedRectangle (x, y, w, h, 3.0f, 3.0f, true, true, true, true);
        return path;
    }

    TEST (ShadowCacheTest, LooksLikeTheFrameworksShadowForEveryShapeAndPosition)
    {
        // One cache for all of them, in an order that comes back to earlier shapes.
        ShadowCache cache (shadow, 4);
        const juce::Path shapes[] {
            roundedRectangle (0.0f, 0.0f, 120.0f, 100.0f),
            roundedRectangle (2.0f, 2.0f, 60.0f, 40.0f),
            square (34.5f, 7.0f),
            square (34.25f, 7.75f),   // the same square a fraction further
            square (54.5f, 57.0f),    // and whole pixels further
            roundedRectangle (0.0f, 0.0f, 120.0f, 100.0f),
            square (34.5f, 7.0f),
            square (3.1f, 80.6f),
            square (34.25f, 7.75f),
        };

        for (const auto& shape : shapes)
        {
            SCOPED_TRACE (shape.getBounds().toString());
            const auto cached = withShadow (shape, [&] (auto& g, auto& p) { cache.drawForPath (g, p); });
            EXPECT_EQ (largestDifference (cached, framework (shape)), 0);
            EXPECT_LE (cache.size(), 4u);
        }
    }

    TEST (ShadowCacheTest, APartialRepaintDrawsWhatAFullOneDraws)
    {
        ShadowCache cache (shadow, 1);
        const auto shape = roundedRectangle (10.0f, 10.0f, 100.0f, 80.0f);
        const juce::Rectangle<int> strip { 0, 0, 120, 14 };

        const auto full = withShadow (shape, [&] (auto& g, auto& p) { cache.drawForPath (g, p); });
        const auto partial = withShadow (
            shape, [&] (auto& g, auto& p) { cache.drawForPath (g, p); }, strip);
        const auto partialFirst = withShadow (
            shape, [] (auto& g, auto& p) { ShadowCache (shadow, 1).drawForPath (g, p); }, strip);

        for (const auto& drawn : { partial, partialFirst })
            EXPECT_EQ (largestDifference (drawn.getClippedImage (strip), full.getClippedImage (strip)), 0);

        // Outside the clip nothing is drawn.
        EXPECT_EQ (partial.getPixelAt (60, 50), panel);

        // A shape whose shadow cannot reach the clip draws nothing at all.
        const auto away = withShadow (
            square (80.0f, 80.0f), [&] (auto& g, auto& p) { cache.drawForPath (g, p); }, strip);
        EXPECT_EQ (largestDifference (away, withShadow ({}, [] (auto&, auto&) {})), 0);
    }
}
