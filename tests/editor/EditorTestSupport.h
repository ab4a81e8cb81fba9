#pragma once

// The editor tests' helpers: EditorRendering.h and the shared test support.

#include "EditorRendering.h"
#include "MessageLoop.h"
#include "TestHelpers.h"

#include <stdexcept>

namespace editor_testing
{
    using testing_support::channelDifference;
    using testing_support::dispatchPendingMessages;
    using testing_support::parameterIds;
    using testing_support::parameterValue;
    using testing_support::runMessageLoopUntil;
    using testing_support::setParameter;
    using testing_support::TickCounter;

    /** Types text into a knob's value box and commits it, as a user would. */
    inline void typeInto (juce::Slider& slider, const juce::String& text)
    {
        slider.showTextBox();

        for (auto* child : slider.getChildren())
            if (auto* box = dynamic_cast<juce::Label*> (child))
                if (auto* textEditor = box->getCurrentTextEditor())
                {
                    textEditor->setText (text, false);
                    box->hideEditor (false);
                    return;
                }
    }

    inline juce::Slider& knob (juce::Component& editor, const juce::String& id)
    {
        auto* slider = dynamic_cast<juce::Slider*> (editor.findChildWithID (id));

        // Thrown, not asserted: GoogleTest reports it as this test's failure
        // instead of the whole run crashing on a null reference in Release.
        if (slider == nullptr)
            throw std::invalid_argument ("no knob has the id \"" + id.toStdString() + "\"");

        return *slider;
    }
}
