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

    void paintInto (benchmark::State& state, juce::Component& component)
    {
        juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true);

        // The first paint fills the glyph caches; what repeats every 32 ms is the steady cost.
        {
            juce::Graphics warmUp (image);
            component.paintEntireComponent (warmUp, true);
        }

        for (auto _ : state)
        {
            juce::Graphics g (image);
            component.paintEntireComponent (g, true);
            benchmark::ClobberMemory();
        }
    }

    void BM_DisplayPaint (benchmark::State& state)
    {
        PaintedEditor painted;
        auto* display = editor_testing::findDisplay (painted.editor);

        if (display == nullptr || display->getWidth() != 386 || display->getHeight() != 72)
        {
            state.SkipWithError ("the display is not 386 x 72");
            return;
        }

        paintInto (state, *display);
    }

    void BM_EditorPaint (benchmark::State& state)
    {
        PaintedEditor painted;
        paintInto (state, painted.editor);
    }
}

BENCHMARK (BM_DisplayPaint)->Unit (benchmark::kMicrosecond);
BENCHMARK (BM_EditorPaint)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
