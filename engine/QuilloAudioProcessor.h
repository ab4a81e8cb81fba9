#pragma once

#include "PluginParameter.h"

#include <array>
#include <atomic>

namespace tremolo
{
    struct BlockSettings;
}

//==============================================================================
/**
    The stereo tremolo: even input channels follow the left LFO, odd ones the
    right LFO, mixed with the dry signal.

    Threads: processBlock and updateTremoloState belong to the audio thread,
    and so do lfoPhase and tremoloStates. The message thread (editor, curve
    display) reads only getPublishedTremoloStates(), the parameters'
    getTargetValue() and the pure lfoShape(); none of these waits for or
    changes anything the audio thread uses.
*/
class QuilloAudioProcessor : public juce::AudioProcessor
{
public:
    enum Waveform : juce::int32
    {
        Sine = 0,
        Square,
        Saw,
        Triangle
    };

    struct TremoloState
    {
        float rate;
        float depth;
        Waveform waveform;
    };

    QuilloAudioProcessor();
    ~QuilloAudioProcessor() override;

    //==============================================================================
    const juce::String getName() const override;

    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;

    using juce::AudioProcessor::processBlock;
    void processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;

    double getTailLengthSeconds() const override;

    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    //==============================================================================
    /** One group's LFO settings for the coming block; may re-phase both LFOs. */
    TremoloState updateTremoloState (juce::AudioPlayHead* hostPlayHead);

    /** The LFO value (0 to 1) at a phase of 0 or more; steps "Limit" and, for
        Square and Saw, "Smoothing". processBlock does not use it: it is the
        per-sample definition that the tests and the benchmark compare the block
        path with (tests/support/ReferenceTremolo.h). Since it steps smoothers,
        call it only where processBlock could run, never beside it. */
    float lfo (float phase, Waveform waveform);

    /** The same shapes with "Limit" and "Smoothing" given: no side effect, any thread. */
    static float lfoShape (float phase, Waveform waveform, float limit, float smoothing) noexcept;

    /** The tremolo states of the latest block, both from one block, read without
        blocking or disturbing the audio thread. */
    std::array<TremoloState, 2> getPublishedTremoloStates() const noexcept;

    //==============================================================================
    juce::StringArray waveformItems { "Sine", "Square", "Saw", "Triangle" };
    juce::StringArray figureItems { "1/2", "1/4", "1/8", "1/16", "1/32", "1/64" };

    PluginParametersManager parametersManager { *this };

    PluginParameterLinSlider dryParameter { parametersManager, "Dry", {}, 0.0f, 1.0f, 0.0f };
    PluginParameterLinSlider wetParameter { parametersManager, "Wet", {}, 0.0f, 1.0f, 1.0f };
    PluginParameterLinSlider depthParameter { parametersManager, "Depth", {}, 0.0f, 1.0f, 0.5f };
    PluginParameterLinSlider rateParameter { parametersManager, "Rate", {}, 0.0f, 10.0f, 0.5f };
    PluginParameterComboBox waveformParameter { parametersManager, "Waveform", waveformItems, 0 };
    PluginParameterLinSlider smoothingParameter { parametersManager, "Smoothing", {}, 0.02f, 0.5f, 0.02f };
    PluginParameterComboBox figureParameter { parametersManager, "Figure", figureItems, 0 };
    PluginParameterToggle syncParameter { parametersManager, "Sync", false };
    PluginParameterLinSlider offsetLParameter { parametersManager, "Offset L", {}, 0.0f, 1.0f, 0.0f };
    PluginParameterLinSlider offsetRParameter { parametersManager, "Offset R", {}, 0.0f, 1.0f, 0.0f };
    PluginParameterLinSlider limitParameter { parametersManager, "Limit", {}, 0.0f, 1.0f, 0.5f };

    // The audio thread's: processBlock reads and writes them every block. They
    // are public for the tests and the per-sample reference; the message thread
    // reads the states through getPublishedTremoloStates() instead.
    float lfoPhase[2] { 0.0f, 0.0f };
    TremoloState tremoloStates[2] { { 10.0f, 0.5f, Sine }, { 10.0f, 0.5f, Sine } };
    float inverseSampleRate = 0.0f;

private:
    void followTimeline (juce::int64 timeInSamples, float rate) noexcept;
    void publishTremoloStates() noexcept;
    double startPhase (int group, float offset) const noexcept;
    /** Modulates the group's channels (group, group + 2, ...) with the settings
        given and the group's tremolo state; returns the phase the block ends at. */
    double modulateGroup (juce::AudioBuffer<float>& buffer, int group, int numInputChannels,
                          tremolo::BlockSettings settings) noexcept;
    void storePhases (double leftEndPhase, float offsetL, float offsetR, bool rightGroupPlayed) noexcept;

    // Both LFOs run on one clock, the left group's: every block starts both groups
    // from it, each with its own offset. A ramp gives the right group its "Rate"
    // one step early; on one clock that lead lasts only the block, instead of
    // adding up to a lasting phase difference between left and right.
    // The clock is carried in double: lfoPhase is a float, and storing "end minus
    // offset" then adding the offset back at the next block rounds every time,
    // which at small block sizes drifts audibly. A group whose lfoPhase no longer
    // holds the value stored last (set from outside) starts from that value instead.
    double carriedPhase = 0.0;
    float storedPhase[2] { 0.0f, 0.0f };

    // Seqlock-style hand-over of tremoloStates to the message thread: the audio
    // thread never waits, a reader retries while a block is being published.
    // Release stores and acquire loads on the fields themselves, no fences, so
    // the race detector sees the hand-over.
    std::atomic<juce::uint32> publishedSequence { 0 };
    std::atomic<float> publishedRate[2];
    std::atomic<float> publishedDepth[2];
    std::atomic<juce::int32> publishedWaveform[2];

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuilloAudioProcessor)
};
