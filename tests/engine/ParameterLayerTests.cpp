#include "TestHelpers.h"

#include <gtest/gtest-spi.h>

using namespace testing_support;

namespace
{
    struct ParameterRow
    {
        const char* name;
        const char* id;
        float minimum, maximum, defaultValue;
        const char* defaultText;
    };

    const ParameterRow rows[] {
        { "Dry", "dry", 0.0f, 1.0f, 0.0f, "0.0" },
        { "Wet", "wet", 0.0f, 1.0f, 1.0f, "1.0" },
        { "Depth", "depth", 0.0f, 1.0f, 0.5f, "0.5" },
        { "Rate", "rate", 0.0f, 10.0f, 0.5f, "0.5" },
        { "Waveform", "waveform", 0.0f, 3.0f, 0.0f, "Sine" },
        { "Smoothing", "smoothing", 0.02f, 0.5f, 0.02f, "0.02" },
        { "Figure", "figure", 0.0f, 5.0f, 0.0f, "1/2" },
        { "Sync", "sync", 0.0f, 1.0f, 0.0f, "False" },
        { "Offset L", "offsetl", 0.0f, 1.0f, 0.0f, "0.0" },
        { "Offset R", "offsetr", 0.0f, 1.0f, 0.0f, "0.0" },
        { "Limit", "limit", 0.0f, 1.0f, 0.5f, "0.5" },
    };

    PluginParameter* const* parameterObjects (QuilloAudioProcessor& p)
    {
        static thread_local PluginParameter* objects[11];
        PluginParameter* list[] { &p.dryParameter, &p.wetParameter, &p.depthParameter, &p.rateParameter,
                                  &p.waveformParameter, &p.smoothingParameter, &p.figureParameter,
                                  &p.syncParameter, &p.offsetLParameter, &p.offsetRParameter, &p.limitParameter };
        std::copy (std::begin (list), std::end (list), objects);
        return objects;
    }
}

TEST (ProcessorSetUp, ElevenParametersInOrderWithIdsRangesDefaultsAndTexts)
{
    QuilloAudioProcessor processor;
    const auto& parameters = processor.getParameters();
    ASSERT_EQ (parameters.size(), 11);

    auto* const* objects = parameterObjects (processor);

    for (int i = 0; i < 11; ++i)
    {
        SCOPED_TRACE (rows[i].name);
        auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (parameters[i]);
        ASSERT_NE (parameter, nullptr);

        EXPECT_EQ (parameter->getName (100), rows[i].name);
        EXPECT_EQ (parameter->getParameterID(), rows[i].id);
        EXPECT_EQ (objects[i]->paramID, rows[i].id);
        EXPECT_TRUE (parameter->getLabel().isEmpty());
        EXPECT_FLOAT_EQ (parameter->getNormalisableRange().start, rows[i].minimum);
        EXPECT_FLOAT_EQ (parameter->getNormalisableRange().end, rows[i].maximum);
        EXPECT_FLOAT_EQ (parameter->convertFrom0to1 (parameter->getDefaultValue()), rows[i].defaultValue);
        EXPECT_EQ (parameter->getCurrentValueAsText(), rows[i].defaultText);
        EXPECT_TRUE (parameter->isAutomatable());
        EXPECT_FALSE (parameter->isMetaParameter());
        EXPECT_FALSE (parameter->isDiscrete());
        EXPECT_FALSE (parameter->isBoolean());

        // Fresh objects: target and current value at the default, no ramp.
        EXPECT_EQ (objects[i]->getTargetValue(), rows[i].defaultValue);
        EXPECT_EQ (objects[i]->getCurrentValue(), rows[i].defaultValue);
        EXPECT_EQ (objects[i]->getRampCountdown(), 0);
        EXPECT_EQ (objects[i]->getNextValue(), rows[i].defaultValue);
    }

    EXPECT_FLOAT_EQ (processor.rateParameter.getTargetValue() / 10.0f, 0.05f);
    EXPECT_EQ (processor.parametersManager.parameterTypes,
               juce::StringArray ({ "Slider", "Slider", "Slider", "Slider", "ComboBox", "Slider",
                                    "ComboBox", "ToggleButton", "Slider", "Slider", "Slider" }));
    EXPECT_EQ (processor.parametersManager.parameterTypeById.size(), 11u);
    EXPECT_EQ (processor.parametersManager.parameterTypeById.at ("sync"), "ToggleButton");
    ASSERT_EQ (processor.parametersManager.comboBoxItemLists.size(), 2);
    EXPECT_EQ (processor.parametersManager.comboBoxItemLists[0], processor.waveformItems);
    EXPECT_EQ (processor.parametersManager.comboBoxItemLists[1], processor.figureItems);
}

TEST (ProcessorSetUp, NameStateTypeBusesAndFixedAnswers)
{
    QuilloAudioProcessor processor;

    EXPECT_EQ (processor.getName(), "Quillo");
    EXPECT_EQ (processor.parametersManager.valueTreeState.state.getType().toString(), "Quillo");

    ASSERT_EQ (processor.getBusCount (true), 1);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_EQ (processor.getBus (true, 0)->getCurrentLayout(), juce::AudioChannelSet::stereo());
    EXPECT_TRUE (processor.getBus (true, 0)->isEnabled());
    EXPECT_TRUE (processor.getBus (false, 0)->isEnabled());

    for (int group = 0; group < 2; ++group)
    {
        EXPECT_EQ (processor.tremoloStates[group].rate, 10.0f);
        EXPECT_EQ (processor.tremoloStates[group].depth, 0.5f);
        EXPECT_EQ (processor.tremoloStates[group].waveform, QuilloAudioProcessor::Sine);
        EXPECT_EQ (processor.lfoPhase[group], 0.0f);
    }

    EXPECT_EQ (processor.getNumPrograms(), 1);
    processor.setCurrentProgram (3);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    processor.changeProgramName (0, "Mine");
    EXPECT_TRUE (processor.getProgramName (0).isEmpty());
    EXPECT_TRUE (processor.getProgramName (7).isEmpty());
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_FALSE (processor.isMidiEffect());
    EXPECT_TRUE (processor.hasEditor());
}

TEST (ProcessorSetUp, BusLayoutRule)
{
    using Set = juce::AudioChannelSet;
    QuilloAudioProcessor processor;

    struct Case
    {
        Set in, out;
        bool accepted;
    };
    const Case cases[] {
        { Set::mono(), Set::mono(), true },
        { Set::stereo(), Set::stereo(), true },
        { Set::disabled(), Set::stereo(), false },
        { Set::stereo(), Set::disabled(), false },
        { Set::disabled(), Set::disabled(), false },
        { Set::mono(), Set::stereo(), false },
        { Set::stereo(), Set::mono(), false },
        { Set::discreteChannels (2), Set::discreteChannels (2), false },
        { Set::create5point1(), Set::create5point1(), false },
    };

    for (const auto& c : cases)
    {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (c.in);
        layout.outputBuses.add (c.out);
        EXPECT_EQ (processor.isBusesLayoutSupported (layout), c.accepted)
            << c.in.getDescription() << " -> " << c.out.getDescription();
    }

    EXPECT_FALSE (processor.isBusesLayoutSupported ({}));
}

//==============================================================================
TEST (ParameterLayer, TextForms)
{
    // clang-format off
    struct SliderText { float value; const char* text; };
    for (const auto& [value, text] : { SliderText { 0.5f, "0.5" }, { 1.0f, "1.0" }, { 0.0f, "0.0" }, { 10.0f, "10.0" },
                                        { 0.25f, "0.25" }, { 0.02f, "0.02" }, { 0.999f, "1.0" }, { -0.25f, "-0.25" } })
        EXPECT_EQ (PluginParameterSlider::valueToText (value), text) << value;
    // clang-format on

    // Values whose hundredths overflow an int64: whole numbers, written out in full.
    EXPECT_EQ (PluginParameterSlider::valueToText (1.0e17f), "99999998430674944.0");
    EXPECT_EQ (PluginParameterSlider::valueToText (-std::numeric_limits<float>::max()),
               "-340282346638528859811704183484516925440.0");
    EXPECT_EQ (PluginParameterSlider::valueToText (9.0e15f), "8999999815811072.0");

    // Decimal numbers only, read as far as they go, as the framework's reader reads them.
    // clang-format off
    struct TypedText { const char* text; float value; };
    for (const auto& [text, value] : { TypedText { "0.75", 0.75f }, { "12", 12.0f }, { " \t2.5", 2.5f }, { "+1.5e1", 15.0f },
                                       { "-.5", -0.5f }, { "5.", 5.0f }, { "3.5Hz", 3.5f }, { "1e", 1.0f }, { "1e+", 1.0f },
                                       { "2E-1", 0.2f }, { "1.2.3", 1.2f }, { "0x5", 0.0f }, { "0X1p-2", 0.0f },
                                       { "0x1p-2", 0.0f }, { "x5", 0.0f }, { ".", 0.0f }, { "", 0.0f }, { "1e-400", 0.0f },
                                       { "00012.50", 12.5f } })
    {
        EXPECT_EQ (PluginParameterSlider::textToValue (text), value) << '"' << text << '"';
        EXPECT_EQ (PluginParameterSlider::textToValue (text), juce::String (text).getFloatValue()) << '"' << text << '"';
    }
    // clang-format on

    // Where the framework's reader overflows an int, the exponent saturates.
    EXPECT_EQ (PluginParameterSlider::textToValue ("1e99999999999"), std::numeric_limits<float>::infinity());
    EXPECT_EQ (PluginParameterSlider::textToValue ("-2e99999999999"), -std::numeric_limits<float>::infinity());
    EXPECT_EQ (PluginParameterSlider::textToValue ("3e-99999999999"), 0.0f);
    EXPECT_EQ (PluginParameterSlider::textToValue ("NaN"), 0.0f);

    const juce::StringArray shapes { "Sine", "Square", "Saw", "Triangle" };
    EXPECT_EQ (PluginParameterComboBox::textToChoice (shapes, "Saw"), 2.0f);
    EXPECT_EQ (PluginParameterComboBox::textToChoice (shapes, "saw"), -1.0f);
    EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, 2.9f), "Saw");
    EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, 3.7f), "Triangle");
    EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, 0.9f), "Sine");
    EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, -0.5f), "Sine");
    EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, 4.0f), "");

    for (auto huge : { 3.0e9f, -3.0e9f, std::numeric_limits<float>::max(), -std::numeric_limits<float>::infinity(),
                       std::numeric_limits<float>::quiet_NaN(), -1.0f })
        EXPECT_EQ (PluginParameterComboBox::choiceToText (shapes, huge), "") << huge;

    // Through the framework parameters, which snap and clamp what the text gives.
    QuilloAudioProcessor processor;
    auto& tree = processor.parametersManager.valueTreeState;
    auto* waveform = tree.getParameter ("waveform");
    auto* sync = tree.getParameter ("sync");
    auto* figure = tree.getParameter ("figure");

    EXPECT_EQ (waveform->convertFrom0to1 (waveform->getValueForText ("saw")), 0.0f);
    EXPECT_EQ (waveform->convertFrom0to1 (waveform->getValueForText ("Triangle")), 3.0f);
    EXPECT_EQ (sync->getText (0.0f, 0), "False");
    EXPECT_EQ (sync->getText (1.0f, 0), "True");
    EXPECT_EQ (sync->convertFrom0to1 (sync->getValueForText ("True")), 1.0f);
    EXPECT_EQ (sync->convertFrom0to1 (sync->getValueForText ("true")), 0.0f);
    EXPECT_EQ (figure->getText (figure->convertTo0to1 (4.0f), 0), "1/32");
}

TEST (ParameterLayer, TypedTextNeverLeavesAParameterNonFiniteOrOutOfRange)
{
    QuilloAudioProcessor processor;
    auto& tree = processor.parametersManager.valueTreeState;

    for (auto* text : { "nan", "-nan", "inf", "-inf", "1e40", "-1e40", "1e99999999999", "", "abc", "5", "-3" })
    {
        for (auto* raw : processor.getParameters())
        {
            auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (raw);
            parameter->setValueNotifyingHost (parameter->getValueForText (text));

            const auto& range = parameter->getNormalisableRange();
            const auto value = parameter->convertFrom0to1 (parameter->getValue());
            SCOPED_TRACE (parameter->getParameterID() + " <- \"" + text + "\"");
            EXPECT_TRUE (std::isfinite (value));
            EXPECT_GE (value, range.start);
            EXPECT_LE (value, range.end);
        }
    }

    EXPECT_TRUE (std::isfinite (processor.depthParameter.getNextValue()));
    juce::ignoreUnused (tree);
}

TEST (ParameterLayer, NonFiniteValuesFromAHostNeverReachTheSmoother)
{
    QuilloAudioProcessor processor;
    processor.depthParameter.parameterChanged ("depth", 0.25f);
    processor.depthParameter.parameterChanged ("depth", std::numeric_limits<float>::quiet_NaN());
    processor.depthParameter.parameterChanged ("depth", std::numeric_limits<float>::infinity());

    EXPECT_EQ (processor.depthParameter.getTargetValue(), 0.25f);
    EXPECT_EQ (processor.depthParameter.getNextValue(), 0.25f);
}

TEST (ParameterLayer, ImmediateChangesWithoutRamp)
{
    QuilloAudioProcessor processor;
    setParameter (processor, "limit", 0.8f);

    EXPECT_FLOAT_EQ (processor.limitParameter.getTargetValue(), 0.8f);
    EXPECT_FLOAT_EQ (processor.limitParameter.getNextValue(), 0.8f);
    EXPECT_FLOAT_EQ (processor.limitParameter.getCurrentValue(), 0.8f);
    EXPECT_EQ (processor.limitParameter.getRampCountdown(), 0);
}

TEST (ParameterLayer, RampsStepPerReadAndRestartFromWhereTheyAre)
{
    QuilloAudioProcessor processor;
    processor.prepareToPlay (44100.0, 512);   // 44 steps for "Depth" and "Rate"

    auto& depth = processor.depthParameter;
    EXPECT_EQ (depth.getNextValue(), 0.5f);

    depth.parameterChanged ("depth", 1.0f);
    EXPECT_EQ (depth.getRampCountdown(), 44);

    const auto step = (1.0f - 0.5f) / 44.0f;
    auto expected = 0.5f;

    for (int i = 0; i < 43; ++i)
    {
        expected += step;
        ASSERT_FLOAT_EQ (depth.getNextValue(), expected) << "read " << i;
    }

    // The same target again changes nothing: the ramp goes on.
    depth.parameterChanged ("depth", 1.0f);
    EXPECT_EQ (depth.getRampCountdown(), 1);
    EXPECT_EQ (depth.getNextValue(), 1.0f);
    EXPECT_EQ (depth.getNextValue(), 1.0f);
    EXPECT_EQ (depth.getRampCountdown(), 0);

    // A new target mid-ramp starts a fresh ramp of 44 steps from the value reached.
    depth.parameterChanged ("depth", 0.0f);
    for (int i = 0; i < 10; ++i)
        depth.getNextValue();

    const auto reached = depth.getCurrentValue();
    depth.parameterChanged ("depth", 0.5f);
    EXPECT_EQ (depth.getRampCountdown(), 44);
    EXPECT_FLOAT_EQ (depth.getNextValue(), reached + (0.5f - reached) / 44.0f);
    EXPECT_EQ (depth.getTargetValue(), 0.5f);
}

TEST (TestSupport, ListsEveryParameterAndFailsTheTestOnAnUnknownId)
{
    QuilloAudioProcessor processor;
    juce::StringArray created;

    for (auto* parameter : processor.getParameters())
        created.add (dynamic_cast<juce::AudioProcessorParameterWithID*> (parameter)->paramID);

    EXPECT_EQ (created, parameterIds);

    EXPECT_NONFATAL_FAILURE (setParameter (processor, "Depth", 1.0f), "no parameter has the id \"Depth\"");
    EXPECT_NONFATAL_FAILURE (EXPECT_TRUE (std::isnan (parameterValue (processor, "nope"))), "no parameter has the id");
    EXPECT_EQ (parameterValue (processor, "depth"), 0.5f);
}
