#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <map>

//==============================================================================
/** Owns the framework parameter tree and records how each parameter was made. */
struct PluginParametersManager
{
    explicit PluginParametersManager (juce::AudioProcessor& processor);

    juce::AudioProcessorValueTreeState valueTreeState;
    juce::StringArray parameterTypes;
    std::map<juce::String, juce::String> parameterTypeById;
    juce::Array<juce::StringArray> comboBoxItemLists;
};

//==============================================================================
/**
    The processing half of one parameter: a listener of the parameter tree and a
    linear smoother.

    Thread hand-over: the tree may call parameterChanged on any thread. It only
    publishes the new target through an atomic. The smoothing state inherited
    from LinearSmoothedValue belongs to the audio thread: getNextValue() and
    reset() pick up the latest published target before they step, so a reader on
    a single thread sees exactly the behaviour of a plain smoother. Readers on
    other threads (the editor, the curve display) use getTargetValue(), which
    reads the atomic and never touches the smoothing state.
*/
class PluginParameter : public juce::LinearSmoothedValue<float>,
                        public juce::AudioProcessorValueTreeState::Listener
{
public:
    using RemapFunction = std::function<float (float)>;

    ~PluginParameter() override;

    void parameterChanged (const juce::String& parameterID, float newValue) override;

    /** One smoothing step (audio thread). */
    float getNextValue() noexcept;

    /** The last value the tree delivered; safe from any thread, steps nothing. */
    float getTargetValue() const noexcept { return latestTarget.load (std::memory_order_acquire); }

    /** The smoothed value reached so far (audio thread). */
    float getCurrentValue() noexcept;

    /** Sets the ramp length from a sample rate and ramp time and jumps to the target. */
    void reset (double sampleRate, double rampLengthInSeconds) noexcept;

    /** Steps left in the running ramp (audio thread). */
    int getRampCountdown() noexcept;

    PluginParametersManager& manager;
    RemapFunction remapFunction;
    juce::String paramID;

protected:
    PluginParameter (PluginParametersManager& owner, RemapFunction remap);

    /** Registers with the manager and the tree; called by each kind's constructor. */
    void registerParameter (const juce::String& name,
                            const juce::String& controlType,
                            const juce::StringArray* choiceTexts,
                            const juce::String& label,
                            juce::NormalisableRange<float> range,
                            float defaultValue,
                            std::function<juce::String (float, int)> valueToText,
                            std::function<float (const juce::String&)> textToValue);

private:
    void pickUpLatestTarget() noexcept;

    std::atomic<float> latestTarget { 0.0f };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginParameter)
};

//==============================================================================
class PluginParameterSlider : public PluginParameter
{
public:
    PluginParameterSlider (PluginParametersManager& owner,
                           const juce::String& name,
                           const juce::String& label,
                           float minimum,
                           float maximum,
                           float defaultValue,
                           RemapFunction remap = {});

    ~PluginParameterSlider() override;

    /** Value-to-text form of the continuous kinds: two decimals, one when the last is 0. */
    static juce::String valueToText (float value);

    /** Text-to-value form of the continuous kinds: the decimal number the text starts
        with (untrustedxml::readDecimalNumber), 0 for none. Never returns NaN. */
    static float textToValue (const juce::String& text);

private:
    float minimumValue, maximumValue, defaultSliderValue;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginParameterSlider)
};

class PluginParameterLinSlider : public PluginParameterSlider
{
public:
    PluginParameterLinSlider (PluginParametersManager& owner,
                              const juce::String& name,
                              const juce::String& label,
                              float minimum,
                              float maximum,
                              float defaultValue,
                              RemapFunction remap = {});

    ~PluginParameterLinSlider() override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginParameterLinSlider)
};

class PluginParameterComboBox : public PluginParameter
{
public:
    PluginParameterComboBox (PluginParametersManager& owner,
                             const juce::String& name,
                             juce::StringArray itemList,
                             int defaultIndex,
                             RemapFunction remap = {});

    ~PluginParameterComboBox() override;

    /** Text of the choice at the truncated index, or empty when out of range. */
    static juce::String choiceToText (const juce::StringArray& choices, float value);

    /** Index of the first exactly equal text, or -1. */
    static float textToChoice (const juce::StringArray& choices, const juce::String& text);

    juce::StringArray items;

private:
    int defaultChoice;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginParameterComboBox)
};

class PluginParameterToggle : public PluginParameter
{
public:
    PluginParameterToggle (PluginParametersManager& owner,
                           const juce::String& name,
                           bool defaultState,
                           RemapFunction remap = {});

    ~PluginParameterToggle() override;

private:
    bool defaultToggleState;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PluginParameterToggle)
};
