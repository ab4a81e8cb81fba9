// The curve display keeps a picture of itself and strokes the curves again
// only when something it shows changed. Whatever changed, the display must
// then look exactly as a display drawing that state for the first time.

#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
    using namespace editor_testing;

    bool samePixels (const juce::Image& a, const juce::Image& b)
    {
        if (a.getBounds() != b.getBounds())
            return false;

        for (int y = 0; y < a.getHeight(); ++y)
            for (int x = 0; x < a.getWidth(); ++x)
                if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                    return false;

        return true;
    }

    /** The component painted at a display scale, as a window on such a screen paints it. */
    juce::Image renderAtScale (juce::Component& component, float scale)
    {
        juce::Image image (juce::Image::ARGB, juce::roundToInt ((float) component.getWidth() * scale),
                           juce::roundToInt ((float) component.getHeight() * scale), true);
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (scale));
        component.paintEntireComponent (g, true);
        return image;
    }

    struct Change
    {
        const char* what;
        std::function<void (QuilloAudioProcessor&, juce::Component& editor)> apply;
    };

    void set (QuilloAudioProcessor& processor, std::initializer_list<std::pair<const char*, float>> values, bool thenPublish)
    {
        for (const auto& [id, value] : values)
            setParameter (processor, id, value);

        if (thenPublish)
            publishStates (processor);
    }

    TEST (DisplayPictureTest, EveryChangeOfWhatItShowsDrawsTheCurvesAgain)
    {
        // Each starts from Square curves at one cycle, so that "Limit" and
        // "Smoothing" both shape them, and changes one thing the display shows.
        const Change changes[] {
            { "Offset L", [] (auto& p, auto&) { set (p, { { "offsetl", 0.3f } }, false); } },
            { "Offset R", [] (auto& p, auto&) { set (p, { { "offsetr", 0.3f } }, false); } },
            { "Limit", [] (auto& p, auto&) { set (p, { { "limit", 0.2f } }, false); } },
            { "Smoothing", [] (auto& p, auto&) { set (p, { { "smoothing", 0.4f } }, false); } },
            { "Depth, after a block", [] (auto& p, auto&) { set (p, { { "depth", 0.4f } }, true); } },
            { "Rate, after a block", [] (auto& p, auto&) { set (p, { { "rate", 2.5f } }, true); } },
            { "Waveform, after a block", [] (auto& p, auto&) { set (p, { { "waveform", 2.0f } }, true); } },
            { "the size", [] (auto&, auto& editor) { editor.setSize (300, 200); } },
        };

        for (const auto& change : changes)
        {
            SCOPED_TRACE (change.what);
            QuilloAudioProcessor processor;
            set (processor, { { "waveform", 1.0f }, { "rate", 1.0f }, { "depth", 1.0f }, { "limit", 0.6f }, { "smoothing", 0.1f } }, true);

            QuilloAudioProcessorEditor shown (processor);
            auto* display = findDisplay (shown);
            ASSERT_NE (display, nullptr);
            const auto before = render (*display);
            ASSERT_TRUE (samePixels (before, render (*display))) << "a repaint with nothing changed looks the same";

            change.apply (processor, shown);
            const auto after = render (*display);

            QuilloAudioProcessorEditor fresh (processor);
            fresh.setSize (shown.getWidth(), shown.getHeight());
            const auto firstDrawing = render (*findDisplay (fresh));

            EXPECT_FALSE (samePixels (before, after)) << "the change shows";
            EXPECT_TRUE (samePixels (after, firstDrawing)) << "as a display drawing it for the first time";
        }
    }

    TEST (DisplayPictureTest, PaintedAtAnotherScaleItDrawsAtThatResolution)
    {
        QuilloAudioProcessor processor;
        set (processor, { { "depth", 1.0f }, { "rate", 3.0f } }, true);

        QuilloAudioProcessorEditor shown (processor);
        auto* display = findDisplay (shown);
        const auto atOne = render (*display);
        const auto atTwo = renderAtScale (*display, 2.0f);

        ASSERT_EQ (atTwo.getWidth(), 2 * atOne.getWidth());
        ASSERT_EQ (atTwo.getHeight(), 2 * atOne.getHeight());

        QuilloAudioProcessorEditor fresh (processor);
        EXPECT_TRUE (samePixels (atTwo, renderAtScale (*findDisplay (fresh), 2.0f)));

        // The same curves over the same area: each 2 x 2 block, averaged, is
        // close to the pixel at scale 1, but for antialiasing along the curves.
        int farOff = 0;

        for (int y = 0; y < atOne.getHeight(); ++y)
            for (int x = 0; x < atOne.getWidth(); ++x)
            {
                const auto block = atTwo.getPixelAt (2 * x, 2 * y)
                                       .interpolatedWith (atTwo.getPixelAt (2 * x + 1, 2 * y), 0.5f)
                                       .interpolatedWith (atTwo.getPixelAt (2 * x, 2 * y + 1)
                                                              .interpolatedWith (atTwo.getPixelAt (2 * x + 1, 2 * y + 1), 0.5f),
                                                          0.5f);
                farOff += channelDifference (block, atOne.getPixelAt (x, y)) > 96 ? 1 : 0;
            }

        EXPECT_LT (farOff, atOne.getWidth() * atOne.getHeight() / 100) << "pixels far from the picture at scale 1";

        // Not the picture for scale 1 enlarged: that would have no pixel that
        // its neighbours in the enlargement do not also have.
        juce::Image enlarged (juce::Image::ARGB, atTwo.getWidth(), atTwo.getHeight(), true);
        {
            juce::Graphics g (enlarged);
            g.setImageResamplingQuality (juce::Graphics::lowResamplingQuality);
            g.drawImageTransformed (atOne, juce::AffineTransform::scale (2.0f));
        }
        EXPECT_FALSE (samePixels (atTwo, enlarged));

        // And back at scale 1 it draws as before.
        EXPECT_TRUE (samePixels (atOne, render (*display)));
    }
}
