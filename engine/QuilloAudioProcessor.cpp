#include "QuilloAudioProcessor.h"
#include "QuilloAudioProcessorEditor.h"
#include "StateBlob.h"
#include "TremoloKernel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
#include <thread>

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
const juce::String QuilloAudioProcessor::getName() const               { return "Quillo"; }
void QuilloAudioProcessor::releaseResources()                          {}
double QuilloAudioProcessor::getTailLengthSeconds() const              { return 0.0; }
bool QuilloAudioProcessor::acceptsMidi() const                         { return false; }
bool QuilloAudioProcessor::producesMidi() const                        { return false; }
bool QuilloAudioProcessor::isMidiEffect() const                        { return false; }
int QuilloAudioProcessor::getNumPrograms()                             { return 1; }
int QuilloAudioProcessor::getCurrentProgram()                          { return 0; }
void QuilloAudioProcessor::setCurrentProgram (int)                     {}
const juce::String QuilloAudioProcessor::getProgramName (int)          { return {}; }
void QuilloAudioProcessor::changeProgramName (int, const juce::String&) {}

bool QuilloAudioProcessor::hasEditor() const                           { return true; }

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

    inverseSampleRate = sampleRate > 0.0 ? (float) (1.0 / sampleRate) : 0.0f;
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

                if (juce::isPositiveAndBelow (figure, (int) std::size (divisors)))
                    rate = (float) (*bpm / divisors[figure]);

                const auto timeInSamples = position->getTimeInSamples();

                if (position->getIsPlaying() && timeInSamples.hasValue())
                {
                    const auto phase = std::fmod ((float) *timeInSamples * (inverseSampleRate * rate), 1.0f);

                    if (std::isfinite (phase))
                        lfoPhase[0] = lfoPhase[1] = phase;
                }
            }
        }
    }

    return { rate, depth, waveform };
}

float QuilloAudioProcessor::lfo (float phase, Waveform waveform)
{
    const auto limit = limitParameter.getNextValue();

    if (waveform == Square || waveform == Saw)
        return tremolo::shapeValue (phase, waveform, limit, smoothingParameter.getNextValue());

    return tremolo::shapeValue (phase, waveform, limit, 0.0f);
}

float QuilloAudioProcessor::lfoShape (float phase, Waveform waveform, float limit, float smoothing) noexcept
{
    return tremolo::shapeValue (phase, waveform, limit, smoothing);
}

//==============================================================================
void QuilloAudioProcessor::publishTremoloStates() noexcept
{
    const auto sequence = publishedSequence.load (std::memory_order_relaxed);
    publishedSequence.store (sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence (std::memory_order_release);

    for (int group = 0; group < 2; ++group)
    {
        publishedRate[group].store (tremoloStates[group].rate, std::memory_order_relaxed);
        publishedDepth[group].store (tremoloStates[group].depth, std::memory_order_relaxed);
        publishedWaveform[group].store (tremoloStates[group].waveform, std::memory_order_relaxed);
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
            for (int group = 0; group < 2; ++group)
                states[(size_t) group] = { publishedRate[group].load (std::memory_order_relaxed),
                                           publishedDepth[group].load (std::memory_order_relaxed),
                                           (Waveform) publishedWaveform[group].load (std::memory_order_relaxed) };

            std::atomic_thread_fence (std::memory_order_acquire);

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
   #if defined (__GNUC__) && defined (__x86_64__) && ! defined (__clang__) && ! defined (__SANITIZE_THREAD__) && ! defined (__SANITIZE_ADDRESS__)
    __attribute__ ((target_clones ("arch=x86-64-v3", "default"), flatten))
   #endif
    void modulateChannels (float* const* channelData, int firstChannel, int numChannels, int numSamples,
                           double start, float increment, float depth, int shape,
                           float limit, float smoothing, float dry, float wet) noexcept
    {
        tremolo::modulate (channelData, firstChannel, numChannels, numSamples,
                           start, increment, depth, shape, limit, smoothing, dry, wet);
    }
}

double QuilloAudioProcessor::startPhase (int group, float offset) const noexcept
{
    if (lfoPhase[group] == storedPhase[group])
    {
        auto start = carriedPhase[group] + (double) offset;

        if (start >= 1.0) start -= 1.0;
        if (start < 0.0)  start += 1.0;

        return start;
    }

    auto start = lfoPhase[group] + offset;

    if (start >= 1.0f) start -= 1.0f;
    if (start < 0.0f)  start += 1.0f;

    return (double) start;
}

double QuilloAudioProcessor::modulateGroup (juce::AudioBuffer<float>& buffer, int firstChannel, int numInputChannels,
                                            int group, double start, float dry, float wet, float limit, float smoothing) noexcept
{
    // Every channel of the group restarts from the same phase, so they share one gain curve.
    const auto& state = tremoloStates[group];
    const auto increment = state.rate * inverseSampleRate;
    const auto numSamples = buffer.getNumSamples();

    modulateChannels (buffer.getArrayOfWritePointers(), firstChannel, numInputChannels, numSamples,
                      start, increment, state.depth, (int) state.waveform, limit, smoothing, dry, wet);

    return tremolo::phaseAfter (start, increment, numSamples);
}

void QuilloAudioProcessor::storePhase (int group, double endPhase, float offset) noexcept
{
    lfoPhase[group] = (float) endPhase - offset;
    storedPhase[group] = lfoPhase[group];
    carriedPhase[group] = endPhase - (double) offset;
}

void QuilloAudioProcessor::processBlock (juce::AudioBuffer<float>& buffer, juce::MidiBuffer&)
{
    const juce::ScopedNoDenormals noDenormals;

    const auto ins = juce::jmin (getTotalNumInputChannels(), buffer.getNumChannels());
    const auto outs = juce::jmin (getTotalNumOutputChannels(), buffer.getNumChannels());
    const auto numSamples = buffer.getNumSamples();

    auto* hostPlayHead = getPlayHead();
    tremoloStates[0] = updateTremoloState (hostPlayHead);
    tremoloStates[1] = updateTremoloState (hostPlayHead);
    publishTremoloStates();

    const auto dry  = dryParameter.getNextValue();
    const auto wet  = wetParameter.getNextValue();
    const auto offL = offsetLParameter.getNextValue();
    const auto offR = offsetRParameter.getNextValue();

    // "Limit" and "Smoothing" never ramp, so one read stands for every sample.
    const auto limit = limitParameter.getNextValue();
    const auto smoothing = smoothingParameter.getNextValue();

    if (ins > 0)
    {
        const auto leftEnd = modulateGroup (buffer, 0, ins, 0, startPhase (0, offL), dry, wet, limit, smoothing);

        // With one input channel the right LFO follows on from the left one.
        const auto rightEnd = ins > 1 ? modulateGroup (buffer, 1, ins, 1, startPhase (1, offR), dry, wet, limit, smoothing)
                                      : leftEnd;
        storePhase (0, leftEnd, offL);
        storePhase (1, rightEnd, offR);
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
namespace
{
    bool isParameterElement (const juce::ValueTree& child, const juce::RangedAudioParameter& parameter)
    {
        return child.hasType ("PARAM") && child.getProperty ("id").toString() == parameter.paramID;
    }

    /** The state in the order it is written: the root's attributes, the parameters'
        elements in the order the parameters were created, each with the value the
        parameter holds, then whatever else the tree holds, as it holds it. Without
        the rest, only the parameters' elements with "id" and "value". */
    juce::ValueTree stateToWrite (const juce::ValueTree& state, const juce::Array<juce::AudioProcessorParameter*>& parameters,
                                  const juce::AudioProcessorValueTreeState& valueTreeState, bool withEverythingElse)
    {
        juce::ValueTree ordered (state.getType());
        std::vector<bool> written ((size_t) state.getNumChildren(), false);

        if (withEverythingElse)
            ordered.copyPropertiesFrom (state, nullptr);

        auto add = [&] (int index)
        {
            ordered.appendChild (state.getChild (index).createCopy(), nullptr);
            written[(size_t) index] = true;
        };

        for (auto* raw : parameters)
        {
            if (auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (raw))
            {
                bool found = false;

                for (int i = 0; withEverythingElse && ! found && i < state.getNumChildren(); ++i)
                {
                    if (! written[(size_t) i] && isParameterElement (state.getChild (i), *parameter))
                    {
                        add (i);
                        found = true;
                    }
                }

                if (! found)
                {
                    juce::ValueTree element ("PARAM");
                    element.setProperty ("id", parameter->paramID, nullptr);
                    ordered.appendChild (element, nullptr);
                }
            }
        }

        if (withEverythingElse)
            for (int i = 0; i < state.getNumChildren(); ++i)
                if (! written[(size_t) i])
                    add (i);

        // Every element of a parameter, a repeated one too, carries its current value.
        for (auto child : ordered)
            if (child.hasType ("PARAM"))
                if (auto* value = valueTreeState.getRawParameterValue (child.getProperty ("id").toString()))
                    child.setProperty ("value", (double) value->load(), nullptr);

        return ordered;
    }
}

void QuilloAudioProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    // copyState() brings the tree up to date first, so a change made just
    // before the window closes is not lost.
    const auto& valueTreeState = parametersManager.valueTreeState;
    const auto state = parametersManager.valueTreeState.copyState();

    stateblob::write (*stateblob::xmlOf (stateToWrite (state, getParameters(), valueTreeState, true)), destData);

    // What is written must be read back at the next start. Content from a
    // restored state that grew past the reader's limits on the way (escaped
    // characters, added values) is left out rather than losing the whole state.
    if (stateblob::read (destData.getData(), (int) destData.getSize(), state.getType().toString()) == nullptr)
        stateblob::write (*stateblob::xmlOf (stateToWrite (state, getParameters(), valueTreeState, false)), destData);
}

void QuilloAudioProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    auto& valueTreeState = parametersManager.valueTreeState;
    const auto xml = stateblob::read (data, sizeInBytes, valueTreeState.state.getType().toString());

    if (xml == nullptr)
        return;

    auto tree = stateblob::treeOf (*xml);

    for (auto* raw : getParameters())
    {
        if (auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (raw))
        {
            bool found = false;

            for (auto child : tree)
            {
                if (! isParameterElement (child, *parameter))
                    continue;

                found = true;

                // Only a parameter's own value is read as a number, and it reaches the
                // tree as one within the range; one that is not a finite number is
                // dropped, so that parameter returns to its default.
                if (child.hasProperty ("value"))
                {
                    const auto value = stateblob::numberOf (child.getProperty ("value").toString());
                    const auto& range = parameter->getNormalisableRange();

                    if (std::isfinite (value))
                        child.setProperty ("value", juce::jlimit ((double) range.start, (double) range.end, value), nullptr);
                    else
                        child.removeProperty ("value", nullptr);
                }
            }

            // A parameter that the state does not mention returns to its default: an
            // element without a value gives it one.
            if (! found)
            {
                juce::ValueTree element ("PARAM");
                element.setProperty ("id", parameter->paramID, nullptr);
                tree.appendChild (element, nullptr);
            }
        }
    }

    valueTreeState.replaceState (tree);
}

//==============================================================================
juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new QuilloAudioProcessor();
}
