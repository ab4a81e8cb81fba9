#include "PluginParameter.h"
#include "UntrustedXml.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace
{
    juce::String idFromName (const juce::String& name)
    {
        return name.removeCharacters (" ").toLowerCase();
    }

    const juce::StringArray& toggleTexts()
    {
        static const juce::StringArray texts { "False", "True" };
        return texts;
    }
}

//==============================================================================
PluginParametersManager::PluginParametersManager (juce::AudioProcessor& processor)
    : valueTreeState (processor, nullptr)
{
}

//==============================================================================
PluginParameter::PluginParameter (PluginParametersManager& owner, RemapFunction remap)
    : manager (owner),
      remapFunction (std::move (remap))
{
}

PluginParameter::~PluginParameter() = default;

void PluginParameter::registerParameter (const juce::String& name,
                                         const juce::String& controlType,
                                         const juce::StringArray* choiceTexts,
                                         const juce::String& label,
                                         juce::NormalisableRange<float> range,
                                         float defaultValue,
                                         std::function<juce::String (float, int)> valueToText,
                                         std::function<float (const juce::String&)> textToValue)
{
    paramID = idFromName (name);

    manager.parameterTypes.add (controlType);
    manager.parameterTypeById.insert_or_assign (paramID, controlType);

    if (choiceTexts != nullptr)
        manager.comboBoxItemLists.add (*choiceTexts);

    auto attributes = juce::AudioProcessorValueTreeStateParameterAttributes()
                          .withLabel (label)
                          .withStringFromValueFunction (std::move (valueToText))
                          .withValueFromStringFunction (std::move (textToValue))
                          .withMeta (false)
                          .withAutomatable (true)
                          .withDiscrete (false)
                          .withCategory (juce::AudioProcessorParameter::genericParameter)
                          .withBoolean (false);

    manager.valueTreeState.createAndAddParameter (
        std::make_unique<juce::AudioProcessorValueTreeState::Parameter> (juce::ParameterID { paramID, 1 },
                                                                         name,
                                                                         range,
                                                                         defaultValue,
                                                                         attributes));

    manager.valueTreeState.addParameterListener (paramID, this);

    // The ramp length is still 0, so this sets current value and target alike.
    parameterChanged (paramID, defaultValue);
    pickUpLatestTarget();
}

void PluginParameter::parameterChanged (const juce::String&, float newValue)
{
    const auto v = remapFunction ? remapFunction (newValue) : newValue;

    // A host or a hand-edited state can deliver NaN or infinity; the audio path
    // never sees such a value, the previous target stays.
    if (! std::isfinite (v))
        return;

    latestTarget.store (v, std::memory_order_release);
}

void PluginParameter::pickUpLatestTarget() noexcept
{
    // The base ignores a value equal to its target, so an unchanged target
    // neither restarts nor shortens a running ramp.
    juce::LinearSmoothedValue<float>::setTargetValue (latestTarget.load (std::memory_order_acquire));
}

float PluginParameter::getNextValue() noexcept
{
    pickUpLatestTarget();
    return juce::LinearSmoothedValue<float>::getNextValue();
}

float PluginParameter::getCurrentValue() noexcept
{
    pickUpLatestTarget();
    return juce::LinearSmoothedValue<float>::getCurrentValue();
}

void PluginParameter::reset (double sampleRate, double rampLengthInSeconds) noexcept
{
    pickUpLatestTarget();

    // The framework converts the step count to int unchecked; a host's absurd
    // sample rate (zero, negative, not a number, 1e300) must not overflow it.
    const auto steps = std::floor (rampLengthInSeconds * sampleRate);
    const auto maximum = (double) std::numeric_limits<int>::max();
    juce::LinearSmoothedValue<float>::reset (steps > 0.0 ? (int) juce::jmin (steps, maximum) : 0);
}

int PluginParameter::getRampCountdown() noexcept
{
    pickUpLatestTarget();
    return countdown;
}

//==============================================================================
PluginParameterSlider::PluginParameterSlider (PluginParametersManager& owner,
                                              const juce::String& name,
                                              const juce::String& label,
                                              float minimum,
                                              float maximum,
                                              float defaultValue,
                                              RemapFunction remap)
    : PluginParameter (owner, std::move (remap)),
      minimumValue (minimum),
      maximumValue (maximum),
      defaultSliderValue (defaultValue)
{
    registerParameter (
        name,
        "Slider",
        nullptr,
        label,
        juce::NormalisableRange<float> (minimumValue, maximumValue, 0.0f, 1.0f, false),
        defaultSliderValue,
        [] (float value, int) { return valueToText (value); },
        [] (const juce::String& text) { return textToValue (text); });
}

PluginParameterSlider::~PluginParameterSlider() = default;

juce::String PluginParameterSlider::valueToText (float value)
{
    if (! std::isfinite (value))
        return juce::String (value);

    const auto magnitude = std::abs ((double) value);

    // From about 9.2e16 on, the hundredths overflow an int64; a float that large is a
    // whole number anyway, written out in full.
    if (magnitude >= 1.0e16)
    {
        char digits[64];
        std::snprintf (digits, sizeof (digits), "%.0f", magnitude);
        return juce::String (value < 0.0f ? "-" : "") + juce::String (digits) + ".0";
    }

    const auto n = (juce::int64) std::floor (magnitude * 100.0 + 0.5);
    const auto whole = n / 100;
    const auto tenths = (n / 10) % 10;
    const auto hundredths = n % 10;

    juce::String text (value < 0.0f ? "-" : "");
    text << juce::String (whole) << "." << juce::String (tenths);

    if (hundredths != 0)
        text << juce::String (hundredths);

    return text;
}

float PluginParameterSlider::textToValue (const juce::String& text)
{
    // Read as the framework reads a number, decimal only, but without its int
    // overflow on a long exponent such as "1e99999999999".
    const auto value = (float) untrustedxml::readDecimalNumber (text);

    // "nan" reads as NaN, which the framework's range would pass straight through;
    // treat it like text that holds no number. Infinities clamp to the range ends.
    return std::isnan (value) ? 0.0f : value;
}

//==============================================================================
PluginParameterLinSlider::PluginParameterLinSlider (PluginParametersManager& owner,
                                                    const juce::String& name,
                                                    const juce::String& label,
                                                    float minimum,
                                                    float maximum,
                                                    float defaultValue,
                                                    RemapFunction remap)
    : PluginParameterSlider (owner, name, label, minimum, maximum, defaultValue, std::move (remap))
{
}

PluginParameterLinSlider::~PluginParameterLinSlider() = default;

//==============================================================================
juce::String PluginParameterComboBox::choiceToText (const juce::StringArray& choices, float value)
{
    // Checked before the truncation, which is undefined for values beyond the int range.
    if (! std::isfinite (value) || value <= -1.0f || value >= (float) choices.size())
        return {};

    return choices[(int) value];
}

float PluginParameterComboBox::textToChoice (const juce::StringArray& choices, const juce::String& text)
{
    for (int i = 0; i < choices.size(); ++i)
        if (choices[i] == text)
            return (float) i;

    return -1.0f;
}

PluginParameterComboBox::PluginParameterComboBox (PluginParametersManager& owner,
                                                  const juce::String& name,
                                                  juce::StringArray itemList,
                                                  int defaultIndex,
                                                  RemapFunction remap)
    : PluginParameter (owner, std::move (remap)),
      items (std::move (itemList)),
      defaultChoice (defaultIndex)
{
    registerParameter (
        name,
        "ComboBox",
        &items,
        {},
        juce::NormalisableRange<float> (0.0f, (float) (items.size() - 1), 1.0f, 1.0f, false),
        (float) defaultChoice,
        [choices = items] (float value, int) { return choiceToText (choices, value); },
        [choices = items] (const juce::String& text) { return textToChoice (choices, text); });
}

PluginParameterComboBox::~PluginParameterComboBox() = default;

//==============================================================================
PluginParameterToggle::PluginParameterToggle (PluginParametersManager& owner,
                                              const juce::String& name,
                                              bool defaultState,
                                              RemapFunction remap)
    : PluginParameter (owner, std::move (remap)),
      defaultToggleState (defaultState)
{
    registerParameter (
        name,
        "ToggleButton",
        nullptr,
        {},
        juce::NormalisableRange<float> (0.0f, 1.0f, 1.0f, 1.0f, false),
        defaultToggleState ? 1.0f : 0.0f,
        [choices = toggleTexts()] (float value, int) { return PluginParameterComboBox::choiceToText (choices, value); },
        [choices = toggleTexts()] (const juce::String& text) { return PluginParameterComboBox::textToChoice (choices, text); });
}

PluginParameterToggle::~PluginParameterToggle() = default;
