// What the editor costs to paint: the curve display on its own (every 32 ms,
// mostly with nothing changed, sometimes after a knob moved) and the whole
// window (every expose, resize or full repaint). Microseconds per paint.

#include "EditorRendering.h"
#include "ParameterAccess.h"

#include <benchmark/benchmark.h>

namespace
{
    /** An editor over a processor that has run one block, so the display shows
        its published states: two full-depth square curves at different rates. */
    struct PaintedEditor
    {
        PaintedEditor()
        {
            testing_support::trySetParameter (processor, "depth", 1.0f);
            testing_support::trySetParameter (processor, "rate", 3.0f);
            testing_support::trySetParameter (processor, "waveform", 1.0f);
            testing_support::trySetParameter (processor, "offsetr", 0.3f);
            editor_testing::publishStates (processor);
        }

        juce::ScopedJuceInitialiser_GUI gui;
        QuilloAudioProcessor processor;
        QuilloAudioProcessorEditor editor { processor };
    };

    /** Paints the component into an image, calling beforeEach() ahead of every paint. */
    template <typename BeforeEach>
    void paintInto (benchmark::State& state, juce::Component& component, BeforeEach&& beforeEach)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);

        // The first paint fills the glyph and picture caches; what repeats is the steady cost.
        {
            juce::Graphics warmUp (image);
            component.paintEntireComponent (warmUp, true);
        }

        for (auto _ : state)
        {
            beforeEach();
            juce::Graphics g (image);
            component.paintEntireComponent (g, true);
            benchmark::ClobberMemory();
        }
    }

    juce::Component* findDisplayOrSkip (benchmark::State& state, PaintedEditor& painted)
    {
        auto* display = editor_testing::findDisplay (painted.editor);

        if (display == nullptr || display->getWidth() != 386 || display->getHeight() != 72)
        {
            state.SkipWithError ("the display is not 386 x 72");
            return nullptr;
        }

        return display;
    }

    // The timer's repaint between knob turns: the curves are what they were.
    void BM_DisplayRepaintUnchanged (benchmark::State& state)
    {
        PaintedEditor painted;

        if (auto* display = findDisplayOrSkip (state, painted))
            paintInto (state, *display, [] {});
    }

    // The first repaint after a knob moved: "Offset L" takes a new value
    // before every paint (on the message thread, as a knob sets it), so every
    // paint draws both curves anew.
    void BM_DisplayRepaintAfterKnobMoved (benchmark::State& state)
    {
        PaintedEditor painted;
        int turns = 0;

        if (auto* display = findDisplayOrSkip (state, painted))
            paintInto (state, *display, [&] {
                // The knob itself is not what is measured.
                state.PauseTiming();
                testing_support::trySetParameter (painted.processor, "offsetl", (++turns % 2 == 0) ? 0.1f : 0.2f);
                state.ResumeTiming();
            });
    }

    void BM_EditorPaint (benchmark::State& state)
    {
        PaintedEditor painted;
        paintInto (state, painted.editor, [] {});
    }
}

BENCHMARK (BM_DisplayRepaintUnchanged)->Name ("DisplayRepaint/Unchanged")->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_DisplayRepaintAfterKnobMoved)->Name ("DisplayRepaint/KnobMoved")->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EditorPaint)->Name ("EditorPaint")->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
