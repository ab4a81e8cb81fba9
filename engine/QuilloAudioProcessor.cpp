#include "QuilloAudioProcessor.h"
#include "QuilloAudioProcessorEditor.h"
#include "StateBlob.h"
#include "TremoloKernel.h"

#include <algorithm>
#include <cmath>

//==============================================================================
namespace
{
    // The processor's waveforms are the kernel's shapes under their user-facing names.
    static_assert (QuilloAudioProcessor::Sine == (int) tremolo::sine
                       && QuilloAudioProcessor::Square == (int) tremolo::square
                       && QuilloAudioProcessor::Saw == (int) tremolo::saw
                       && QuilloAudioProcessor::Triangle == (int) tremolo::triangle,
                   "a waveform and the shape it draws share one number");

    /** Any value passes, an unknown waveform included: the kernel gives it no LFO. */
    constexpr tremolo::Shape toShape (QuilloAudioProcessor::Waveform waveform) noexcept
    {
        return (tremolo::Shape) waveform;
    }
}

//==============================================================================
QuilloAudioProcessor::QuilloAudioProcessor()
    : juce::AudioProcessor (BusesProperties()
                                .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                                .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    for (int group = 0; group < 2; ++group)
    {
        publishedRate[group].store (tremoloStates[group].rate, std::memory_order_relaxed);
        publishedDepth[group].store (tremoloStates[group].depth, std::memory_order_relaxed);
        publishedWaveform[group].store (tremoloStates[group].waveform, std::memory_order_relaxed);
    }

    parametersManager.valueTreeState.state = juce::ValueTree (juce::Identifier (getName().removeCharacters ("- ")));
}

QuilloAudioProcessor::~QuilloAudioProcessor() = default;

//==============================================================================
const juce::String QuilloAudioProcessor::getName() const { return JucePlugin_Name; }
void QuilloAudioProcessor::releaseResources() {}
double QuilloAudioProcessor::getTailLengthSeconds() const { return 0.0; }
bool QuilloAudioProcessor::acceptsMidi() const { return false; }
bool QuilloAudioProcessor::producesMidi() const { return false; }
bool QuilloAudioProcessor::isMidiEffect() const { return false; }
int QuilloAudioProcessor::getNumPrograms() { return 1; }
int QuilloAudioProcessor::getCurrentProgram() { return 0; }
void QuilloAudioProcessor::setCurrentProgram (int) {}
const juce::String QuilloAudioProcessor::getProgramName (int) { return {}; }
void QuilloAudioProcessor::changeProgramName (int, const juce::String&) {}

bool QuilloAudioProcessor::hasEditor() const { return true; }

bool QuilloAudioProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto mainOutput = layouts.getMainOutputChannelSet();

    if (mainOutput != juce::AudioChannelSet::mono() && mainOutput != juce::AudioChannelSet::stereo())
        return false;

    return layouts.getMainInputChannelSet() == mainOutput;
}

//==============================================================================
void QuilloAudioProcessor::prepareToPlay (double sampleRate, int)
{
    // A ramp of one millisecond's worth of smoothing steps; the steps are taken
    // per block read, not per sample.
    depthParameter.reset (sampleRate, 0.001);
    rateParameter.reset (sampleRate, 0.001);

    // A sample period that a float cannot hold (a rate of zero or less, below
    // about 3e-39 Hz, or not a number) leaves the LFO standing still.
    const auto period = sampleRate > 0.0 ? (float) (1.0 / sampleRate) : 0.0f;
    inverseSampleRate = std::isfinite (period) ? period : 0.0f;
}

QuilloAudioProcessor::TremoloState QuilloAudioProcessor::updateTremoloState (juce::AudioPlayHead* hostPlayHead)
{
    const auto depth = depthParameter.getNextValue();
    auto rate = rateParameter.getNextValue();
    const auto waveform = (Waveform) (int) waveformParameter.getTargetValue();

    if (hostPlayHead != nullptr && syncParameter.getTargetValue() != 0.0f)
    {
        // Without a position or a usable tempo the free "Rate" applies and the
        // LFOs keep their own phase.
        if (const auto position = hostPlayHead->getPosition())
        {
            const auto bpm = position->getBpm();

            if (bpm.hasValue() && std::isfinite (*bpm) && *bpm >= 0.0)
            {
                static constexpr double divisors[] { 240.0, 120.0, 60.0, 30.0, 15.0, 7.5 };
                const auto figure = (int) figureParameter.getTargetValue();
                const auto syncedRate = juce::isPositiveAndBelow (figure, (int) std::size (divisors))
                                            ? (float) (*bpm / divisors[figure])
                                            : rate;

                // A tempo so large that its rate overflows a float counts as no tempo.
                if (std::isfinite (syncedRate))
                {
                    rate = syncedRate;
                    const auto timeInSamples = position->getTimeInSamples();

                    if (position->getIsPlaying() && timeInSamples.hasValue())
                        followTimeline (*timeInSamples, rate);
                }
            }
        }
    }

    return { rate, depth, waveform };
}

void QuilloAudioProcessor::followTimeline (juce::int64 timeInSamples, float rate) noexcept
{
    // In double: in float, a position of a few hours and the cycles it makes are
    // rounded by whole hundredths of a cycle, and the LFO would jump at every
    // block edge. The step per sample is the block path's own float product, so
    // the timeline and the block path agree on where the next block starts.
    const auto increment = (double) (inverseSampleRate * rate);
    const auto phase = std::fmod ((double) timeInSamples * increment, 1.0);

    if (! std::isfinite (phase))
        return;

    carriedPhase = phase;

    for (int group = 0; group < 2; ++group)
    {
        lfoPhase[group] = (float) phase;
        storedPhase[group] = lfoPhase[group];
    }
}

float QuilloAudioProcessor::lfo (float phase, Waveform waveform)
{
    const auto limit = limitParameter.getNextValue();

    if (waveform == Square || waveform == Saw)
        return tremolo::shapeValue (phase, toShape (waveform), limit, smoothingParameter.getNextValue());

    return tremolo::shapeValue (phase, toShape (waveform), limit, 0.0f);
}

float QuilloAudioProcessor::lfoShape (float phase, Waveform waveform, float limit, float smoothing) noexcept
{
    return tremolo::shapeValue (phase, toShape (waveform), limit, smoothing);
}

//==============================================================================
void QuilloAudioProcessor::publishTremoloStates() noexcept
{
    // The odd count goes first. Each field is stored with release, so a reader
    // that acquires a new field value also sees the odd count, and retries.
    const auto sequence = publishedSequence.load (std::memory_order_relaxed);
    publishedSequence.store (sequence + 1, std::memory_order_relaxed);

    for (int group = 0; group < 2; ++group)
    {
        publishedRate[group].store (tremoloStates[group].rate, std::memory_order_release);
        publishedDepth[group].store (tremoloStates[group].depth, std::memory_order_release);
        publishedWaveform[group].store (tremoloStates[group].waveform, std::memory_order_release);
    }

    publishedSequence.store (sequence + 2, std::memory_order_release);
}

std::array<QuilloAudioProcessor::TremoloState, 2> QuilloAudioProcessor::getPublishedTremoloStates() const noexcept
{
    std::array<TremoloState, 2> states {};

    for (;;)
    {
        const auto before = publishedSequence.load (std::memory_order_acquire);

        if ((before & 1u) == 0)
        {
            // Acquire loads: the count read after them is at least as new as
            // the publication each value came from.
            for (int group = 0; group < 2; ++group)
                states[(size_t) group] = { publishedRate[group].load (std::memory_order_acquire),
                                           publishedDepth[group].load (std::memory_order_acquire),
                                           (Waveform) publishedWaveform[group].load (std::memory_order_acquire) };

            if (publishedSequence.load (std::memory_order_relaxed) == before)
                return states;
        }

        // The audio thread is publishing right now; that takes a few nanoseconds.
        std::this_thread::yield();
    }
}

//==============================================================================
namespace
{
    // One copy of the block path per instruction set: machines with AVX2 get
    // eight lanes, every other x86-64 the SSE2 baseline. Chosen once at load time;
    // not under the sanitizers, whose runtime is not up yet when the choice is made.
    // clang-format off
   #if defined (__GNUC__) && defined (__x86_64__) && ! defined (__clang__) && ! defined (__SANITIZE_THREAD__) && ! defined (__SANITIZE_ADDRESS__)
    __attribute__ ((target_clones ("arch=x86-64-v3", "default"), flatten))
   #endif
    void modulateChannels (float* const* channelData, int firstChannel, int numChannels, int numSamples,
                           const tremolo::BlockSettings& settings) noexcept
    {
        tremolo::modulate (channelData, firstChannel, numChannels, numSamples, settings);
    }
    // clang-format on
}

double QuilloAudioProcessor::startPhase (int group, float offset) const noexcept
{
    if (lfoPhase[group] == storedPhase[group])
    {
        auto start = carriedPhase + (double) offset;

        if (start >= 1.0) start -= 1.0;
        if (start < 0.0) start += 1.0;

        return start;
    }

    auto start = lfoPhase[group] + offset;

    if (start >= 1.0f) start -= 1.0f;
    if (start < 0.0f) start += 1.0f;

    return (double) start;
}

double QuilloAudioProcessor::modulateGroup (juce::AudioBuffer<float>& buffer, int group, int numInputChannels,
                                            tremolo::BlockSettings settings) noexcept
{
    // Every channel of the group restarts from the same phase, so they share one gain curve.
    const auto& state = tremoloStates[group];
    settings.increment = state.rate * inverseSampleRate;
    settings.depth = state.depth;
    settings.shape = toShape (state.waveform);

    const auto numSamples = buffer.getNumSamples();
    modulateChannels (buffer.getArrayOfWritePointers(), group, numInputChannels, numSamples, settings);

    return tremolo::phaseAfter (settings.startPhase, settings.increment, numSamples);
}

void QuilloAudioProcessor::storePhases (double leftEndPhase, float offsetL, float offsetR, bool rightGroupPlayed) noexcept
{
    carriedPhase = leftEndPhase - (double) offsetL;
    lfoPhase[0] = (float) leftEndPhase - offsetL;

    // Without a right channel the right LFO follows on from where the left one ended.
    lfoPhase[1] = rightGroupPlayed ? lfoPhase[0] : (float) leftEndPhase - offsetR;

    storedPhase[0] = lfoPhase[0];
    storedPhase[1] = lfoPhase[1];
}

void QuilloAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::ScopedNoDenormals noDenormals;

    const auto ins = juce::jmin (getTotalNumInputChannels(), buffer.getNumChannels());
    const auto outs = juce::jmin (getTotalNumOutputChannels(), buffer.getNumChannels());
    const auto numSamples = buffer.getNumSamples();

    // The phases are public members; one that is not finite starts again from 0.
    for (auto& phase : lfoPhase)
        if (! std::isfinite (phase))
            phase = 0.0f;

    auto* hostPlayHead = getPlayHead();
    tremoloStates[0] = updateTremoloState (hostPlayHead);
    tremoloStates[1] = updateTremoloState (hostPlayHead);
    publishTremoloStates();

    // Both groups mix alike; "Limit" and "Smoothing" never ramp, so one read
    // stands for every sample.
    tremolo::BlockSettings settings;
    settings.dry = dryParameter.getNextValue();
    settings.wet = wetParameter.getNextValue();
    const auto offL = offsetLParameter.getNextValue();
    const auto offR = offsetRParameter.getNextValue();
    settings.limit = limitParameter.getNextValue();
    settings.smoothing = smoothingParameter.getNextValue();

    if (ins > 0)
    {
        settings.startPhase = startPhase (0, offL);
        const auto leftEnd = modulateGroup (buffer, 0, ins, settings);

        // Where the right group ends is not kept: the next block starts it on the clock again.
        if (ins > 1)
        {
            settings.startPhase = startPhase (1, offR);
            modulateGroup (buffer, 1, ins, settings);
        }

        storePhases (leftEnd, offL, offR, ins > 1);
    }

    for (int c = ins; c < outs; ++c)
        buffer.clear (c, 0, numSamples);
}

//==============================================================================
juce::AudioProcessorEditor* QuilloAudioProcessor::createEditor()
{
    return new QuilloAudioProcessorEditor (*this);
}

//==============================================================================
void QuilloAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // copyState() brings the tree up to date first, so a change made just
    // before the window closes is not lost.
    stateblob::writeState (parametersManager.valueTreeState.copyState(), parametersManager.valueTreeState, destData);
}

void QuilloAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    auto& valueTreeState = parametersManager.valueTreeState;

    if (const auto xml = stateblob::read (data, sizeInBytes, valueTreeState.state.getType().toString()))
        valueTreeState.replaceState (stateblob::stateToRestore (*xml, valueTreeState.processor));
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuilloAudioProcessor();
}
