#include "EditorTestSupport.h"

#include <gtest/gtest.h>

namespace
{
    using namespace editor_testing;

    const juce::Colour background (0xff1e1e1e);
    const juce::Colour orange (0xfffe9400);
    const juce::Colour blue (0xff6dd6ff);

    // Colour only: alpha is not compared.
    bool near (juce::Colour actual, juce::Colour expected)
    {
        return channelDifference (actual.withAlpha (expected.getAlpha()), expected) <= 3;
    }

    // Along a curve, antialiasing mixes it with the background; these tell the
    // two curves apart all the same.
    bool isBlue (juce::Colour c) { return c.getBlue() > 0x80 && c.getRed() < 0xa0; }
    bool isOrange (juce::Colour c) { return c.getRed() > 0x80 && c.getBlue() < 0x40; }

    struct DisplayTest : public ::testing::Test
    {
        QuilloAudioProcessor processor;
        std::unique_ptr<QuilloAudioProcessorEditor> editor;

        /** The display as the editor shows it, 386 x 72, in its own coordinates. */
        juce::Image paintDisplay()
        {
            if (editor == nullptr)
                editor = std::make_unique<QuilloAudioProcessorEditor> (processor);

            auto* display = findDisplay (*editor);
            jassert (display != nullptr);
            return render (*display);
        }

        void setAndPublish (std::initializer_list<std::pair<const char*, float>> values)
        {
            for (const auto& [id, value] : values)
                setParameter (processor, id, value);

            publishStates (processor);
        }
    };

    TEST_F (DisplayTest, SineAtFullDepthSpansTheInnerArea)
    {
        setAndPublish ({ { "depth", 1.0f }, { "rate", 1.0f }, { "waveform", 0.0f } });
        const auto image = paintDisplay();
        ASSERT_EQ (image.getWidth(), 386);
        ASSERT_EQ (image.getHeight(), 72);

        EXPECT_TRUE (near (image.getPixelAt (1, 1), background));
        EXPECT_TRUE (near (image.getPixelAt (384, 70), background));

        // Starts on the centre line, tops out a quarter of the way across and
        // bottoms out at three quarters. Equal offsets: blue lies over orange.
        EXPECT_TRUE (isBlue (image.getPixelAt (5, 35)));
        EXPECT_TRUE (near (image.getPixelAt (99, 5), blue));
        EXPECT_TRUE (near (image.getPixelAt (287, 66), blue));
        EXPECT_TRUE (near (image.getPixelAt (99, 36), background));
        EXPECT_TRUE (near (image.getPixelAt (99, 9), background));
        EXPECT_TRUE (near (image.getPixelAt (287, 36), background));

        // Nothing above the inner area's top but the stroke's half width.
        for (int x = 0; x < 386; ++x)
        {
            EXPECT_TRUE (near (image.getPixelAt (x, 2), background)) << x;
            EXPECT_TRUE (near (image.getPixelAt (x, 69), background)) << x;
            EXPECT_FALSE (isOrange (image.getPixelAt (x, 5))) << x;
        }
    }

    TEST_F (DisplayTest, RightCurveIsOrangeUnderneathAndFollowsItsOffset)
    {
        setAndPublish ({ { "depth", 1.0f }, { "rate", 1.0f }, { "offsetr", 0.5f } });
        const auto image = paintDisplay();

        // Half a cycle later: heading down first.
        EXPECT_TRUE (near (image.getPixelAt (99, 5), blue));
        EXPECT_TRUE (near (image.getPixelAt (99, 66), orange));
        EXPECT_TRUE (near (image.getPixelAt (287, 5), orange));
        EXPECT_TRUE (near (image.getPixelAt (287, 66), blue));
        // Where they cross, the left curve is on top.
        EXPECT_TRUE (isBlue (image.getPixelAt (193, 35)) || isBlue (image.getPixelAt (193, 36)));
    }

    TEST_F (DisplayTest, FlatLines)
    {
        struct Case
        {
            const char* what;
            float depth, rate, offset;
            int y;
        };
        const Case cases[] {
            { "depth 0, sine", 0.0f, 3.0f, 0.0f, 36 },
            { "rate 0 at the peak", 1.0f, 0.0f, 0.25f, 5 },
            { "rate 0 at the trough", 1.0f, 0.0f, 0.75f, 67 },
        };

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.what);
            setAndPublish ({ { "depth", c.depth }, { "rate", c.rate }, { "offsetl", c.offset }, { "offsetr", c.offset } });
            editor.reset();
            const auto image = paintDisplay();

            for (const int x : { 5, 100, 250, 379 })
            {
                EXPECT_TRUE (isBlue (image.getPixelAt (x, c.y - 1)) || isBlue (image.getPixelAt (x, c.y))) << x;
                EXPECT_TRUE (near (image.getPixelAt (x, c.y - 4), background) || c.y - 4 < 0) << x;
                EXPECT_TRUE (near (image.getPixelAt (x, c.y + 3), background) || c.y + 3 >= 72) << x;
            }
        }

        // Depth 0 flattens every waveform on the centre line.
        for (const auto waveform : { 1.0f, 2.0f, 3.0f })
        {
            setAndPublish ({ { "depth", 0.0f }, { "waveform", waveform } });
            const auto image = paintDisplay();
            EXPECT_TRUE (isBlue (image.getPixelAt (150, 35))) << waveform;
            EXPECT_TRUE (near (image.getPixelAt (150, 31), background)) << waveform;
        }
    }

    TEST_F (DisplayTest, BeforeAnyAudioBlockTenSineCyclesAtHalfDepth)
    {
        const auto image = paintDisplay();

        int top = 72, bottom = -1, crossings = 0;
        bool onCurve = false;

        for (int x = 0; x < 386; ++x)
        {
            const auto onCentreLine = isBlue (image.getPixelAt (x, 35)) || isBlue (image.getPixelAt (x, 36));
            crossings += (onCentreLine && ! onCurve) ? 1 : 0;
            onCurve = onCentreLine;

            for (int y = 0; y < 72; ++y)
            {
                const auto pixel = image.getPixelAt (x, y);
                EXPECT_FALSE (isOrange (pixel)) << x << "," << y;

                if (! near (pixel, background))
                {
                    top = juce::jmin (top, y);
                    bottom = juce::jmax (bottom, y);
                }
            }
        }

        // Between y 20.5 and 51.5, with the stroke's half width either side.
        EXPECT_EQ (top, 19);
        EXPECT_EQ (bottom, 52);
        EXPECT_EQ (crossings, 20);
    }

    TEST_F (DisplayTest, WithoutAudioOnlyTheOffsetsMoveTheCurves)
    {
        const auto before = paintDisplay();

        auto same = [] (const juce::Image& a, const juce::Image& b) {
            for (int y = 0; y < a.getHeight(); ++y)
                for (int x = 0; x < a.getWidth(); ++x)
                    if (a.getPixelAt (x, y) != b.getPixelAt (x, y))
                        return false;

            return true;
        };

        setParameter (processor, "depth", 1.0f);
        setParameter (processor, "rate", 2.0f);
        setParameter (processor, "waveform", 1.0f);
        EXPECT_TRUE (same (before, paintDisplay()));

        setParameter (processor, "offsetl", 0.5f);
        const auto shifted = paintDisplay();
        EXPECT_FALSE (same (before, shifted));

        // Orange shows only once the curves part.
        bool anyOrange = false;

        for (int x = 0; x < 386; ++x)
            for (int y = 0; y < 72; ++y)
                anyOrange = anyOrange || isOrange (shifted.getPixelAt (x, y));

        EXPECT_TRUE (anyOrange);
    }

    TEST_F (DisplayTest, ShapesUseLimitAndSmoothing)
    {
        // A square of pulse width 0.2 at one cycle: high for the first fifth only.
        setAndPublish ({ { "depth", 1.0f }, { "rate", 1.0f }, { "waveform", 1.0f }, { "limit", 0.2f } });
        auto image = paintDisplay();
        EXPECT_TRUE (isBlue (image.getPixelAt (40, 5)) || isBlue (image.getPixelAt (40, 66)));
        const auto early = isBlue (image.getPixelAt (40, 5));
        EXPECT_TRUE (isBlue (image.getPixelAt (200, early ? 66 : 5)));

        // "Limit" never ramps, so a change shows at the next paint, without audio.

        setParameter (processor, "limit", 0.8f);
        image = paintDisplay();
        EXPECT_TRUE (isBlue (image.getPixelAt (200, early ? 5 : 66)));
    }

    TEST_F (DisplayTest, TinyDisplaysDrawFlatLinesInsteadOfDividingByZero)
    {
        editor = std::make_unique<QuilloAudioProcessorEditor> (processor);
        setAndPublish ({ { "depth", 1.0f }, { "rate", 1.0f } });

        // 10 pixels high or less: flat at y 5, the top of the (empty) inner area.
        editor->setSize (400, 19);
        auto* display = findDisplay (*editor);
        ASSERT_EQ (display->getHeight(), 6);
        auto image = render (*display);
        EXPECT_TRUE (isBlue (image.getPixelAt (100, 4)) || isBlue (image.getPixelAt (100, 5)));

        // 10 pixels wide or less: every point at the left margin, no stray lines.
        editor->setSize (20, 255);
        ASSERT_EQ (display->getWidth(), 6);
        image = render (*display);

        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                ASSERT_FALSE (isOrange (image.getPixelAt (x, y))) << x << "," << y;

        editor->setSize (0, 0);
        render (*editor);
    }
}

namespace
{
    using namespace editor_testing;

    /** A see-through component that counts how often it is painted: laid over
        another, it is painted whenever that one is. */
    struct PaintCounter : public juce::Component
    {
        explicit PaintCounter (juce::Component& over)
        {
            setInterceptsMouseClicks (false, false);
            over.addAndMakeVisible (this);
            setBounds (over.getLocalBounds());
        }

        void paint (juce::Graphics&) override { ++paints; }

        int paints = 0;
    };

    TEST (DisplayRepaintTest, RepaintsItselfAtItsOwnRate)
    {
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor (processor);
        editor.addToDesktop (0);
        editor.setVisible (true);

        PaintCounter display (*findDisplay (editor));

        // Nothing changes while the loop runs: every paint of the display is
        // its own timer's doing. A timer of the same 32 ms interval measures
        // the run, so the count does not depend on how fast the machine is.
        TickCounter sameInterval (32);
        ASSERT_TRUE (runMessageLoopUntil ([&] { return sameInterval.ticks >= 5 && display.paints > 0; }, 1000));

        const auto displayBefore = display.paints;
        const auto ticksBefore = sameInterval.ticks;
        runMessageLoopUntil ([&] { return sameInterval.ticks >= ticksBefore + 40; }, 1000);

        const auto paints = display.paints - displayBefore;
        EXPECT_GE (paints, 25) << "over 40 ticks of a 32 ms timer";
        EXPECT_LE (paints, 55) << "over 40 ticks of a 32 ms timer";
    }
}

namespace
{
    TEST_F (DisplayTest, SawFollowsSmoothing)
    {
        // One cycle of a Saw at "Smoothing" 0.5: its smoothed fall takes the whole first
        // half of the cycle, where an unsmoothed Saw would still be rising from 0.5 to 1.
        setAndPublish ({ { "depth", 1.0f }, { "rate", 1.0f }, { "waveform", 2.0f }, { "smoothing", 0.5f } });
        const auto image = paintDisplay();

        struct Point
        {
            int x;
            int y;            // where the smoothed curve is: y (v) = 36 - (v - 0.5) * 62
            int unsmoothed;   // where a Saw without smoothing would be
        };

        // Phases 0.125, 0.25 and 0.375: v = 1 - h (2 x) = 0.84375, 0.5 and 0.15625.
        for (const auto& p : { Point { 52, 15, 28 }, Point { 99, 36, 20 }, Point { 146, 57, 13 } })
        {
            EXPECT_TRUE (isBlue (image.getPixelAt (p.x, p.y)) || isBlue (image.getPixelAt (p.x, p.y - 1))) << p.x;
            EXPECT_TRUE (near (image.getPixelAt (p.x, p.unsmoothed), background)) << p.x;
        }
    }
}
