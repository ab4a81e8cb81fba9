#pragma once

// The tests' shared helpers. A test executable registers its JUCE environment
// once, in MessageManagerEnvironment.cpp (engine) or EditorTestEnvironment.cpp
// (editor).

#include "Comparisons.h"
#include "ParameterAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace testing_support
{
    /** Sets a parameter the way a knob or host does, in its own units; an
        unknown id fails the test and sets nothing. */
    inline void setParameter (QuilloAudioProcessor& processor, const juce::String& id, float value)
    {
        EXPECT_TRUE (trySetParameter (processor, id, value)) << "no parameter has the id \"" << id << "\"";
    }

    /** A parameter's value in its own units; an unknown id fails the test and gives NaN. */
    inline float parameterValue (QuilloAudioProcessor& processor, const juce::String& id)
    {
        auto* parameter = processor.parametersManager.valueTreeState.getParameter (id);

        if (parameter == nullptr)
        {
            ADD_FAILURE() << "no parameter has the id \"" << id << "\"";
            return std::numeric_limits<float>::quiet_NaN();
        }

        return parameter->convertFrom0to1 (parameter->getValue());
    }

    /** A play head whose answer the test sets. */
    struct FakePlayHead : public juce::AudioPlayHead
    {
        juce::Optional<PositionInfo> getPosition() const override { return position; }
        juce::Optional<PositionInfo> position;
    };

    inline FakePlayHead::PositionInfo playingAt (double bpm, juce::int64 sample, bool playing = true)
    {
        juce::AudioPlayHead::PositionInfo info;
        info.setBpm (bpm);
        info.setTimeInSamples (sample);
        info.setIsPlaying (playing);
        return info;
    }

    /** Deterministic noise in [-1, 1). */
    inline juce::AudioBuffer<float> noise (int channels, int samples, unsigned seed = 1)
    {
        juce::AudioBuffer<float> buffer (channels, samples);
        std::mt19937 random (seed);
        std::uniform_real_distribution<float> distribution (-1.0f, 1.0f);

        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < samples; ++i)
                buffer.setSample (c, i, distribution (random));

        return buffer;
    }

    inline juce::AudioBuffer<float> constant (int channels, int samples, float value = 1.0f)
    {
        juce::AudioBuffer<float> buffer (channels, samples);

        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, samples);

        return buffer;
    }

    inline void process (QuilloAudioProcessor& processor, juce::AudioBuffer<float>& buffer)
    {
        juce::MidiBuffer midi;
        processor.processBlock (buffer, midi);
    }

    /** Processes the buffer in slices of the given size, as a device would. */
    inline void processInBlocks (QuilloAudioProcessor& processor, juce::AudioBuffer<float>& buffer, int blockSize)
    {
        juce::MidiBuffer midi;

        for (int start = 0; start < buffer.getNumSamples(); start += blockSize)
        {
            const auto length = std::min (blockSize, buffer.getNumSamples() - start);
            juce::AudioBuffer<float> slice (buffer.getArrayOfWritePointers(), buffer.getNumChannels(), start, length);
            processor.processBlock (slice, midi);
        }
    }

    inline std::unique_ptr<QuilloAudioProcessor> preparedProcessor (double sampleRate = 48000.0, int blockSize = 512)
    {
        auto processor = std::make_unique<QuilloAudioProcessor>();
        processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
        processor->prepareToPlay (sampleRate, blockSize);
        return processor;
    }

    inline juce::MemoryBlock stateOf (QuilloAudioProcessor& processor)
    {
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        return block;
    }
}
