#pragma once

#include "OrvelBox.h"
#include "OrvelLookAndFeel.h"
#include "OrvelRotaryLabel.h"
#include "QuilloAudioProcessor.h"
#include "QuilloVisualizer.h"

#include <map>
#include <vector>

//==============================================================================
/**
    The effect's window: the LFO display on top and the eleven knobs, with
    their captions, in two rows below it, 400 x 255 pixels.

    Knobs are bound to the parameter tree through slider attachments. The editor
    also listens to "sync" and "waveform" to enable only the knobs that matter
    for the current settings.
*/
class QuilloAudioProcessorEditor : public juce::AudioProcessorEditor,
                                   private juce::AudioProcessorValueTreeState::Listener
{
public:
    explicit QuilloAudioProcessorEditor (QuilloAudioProcessor& processorToEdit);
    ~QuilloAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

    /** Follows "sync" and "waveform". On the message thread the knobs change at
        once. A change made on any other thread (a host automating from its audio
        thread) does nothing there: the editor's timer re-reads both targets on the
        message thread, so the latest value wins and the calling thread gets no
        allocation, lock or wait from the editor. */
    void parameterChanged (const juce::String& parameterID, float newValue) override;

private:
    juce::Slider* addSlider (juce::RangedAudioParameter* parameter, std::vector<juce::Component*>& row);
    void addRow (std::initializer_list<const PluginParameter*> parameters, std::vector<juce::Component*>& row);

    void updateSyncSliders (bool isSynced);
    void updateWaveformSliders (QuilloAudioProcessor::Waveform waveform);

    juce::Slider* findSlider (const juce::String& name) const;

    /** Enables the knobs as the current targets of "sync" and "waveform" say. */
    void followTargets();

    /** The editor's timer: calls followTargets() on the message thread. */
    struct TargetFollower : public juce::Timer
    {
        explicit TargetFollower (QuilloAudioProcessorEditor& editorToUpdate) : editor (editorToUpdate) {}
        ~TargetFollower() override { stopTimer(); }

        void timerCallback() override;

        QuilloAudioProcessorEditor& editor;

        JUCE_DECLARE_NON_COPYABLE (TargetFollower)
    };

    QuilloAudioProcessor& audioProcessor;

    // Declared before every component that uses it, so it outlives them all.
    OrvelLookAndFeel lookAndFeel;

    OrvelBox topBox;
    OrvelBox middleBox;
    OrvelBox bottomBox;

    QuilloVisualizer visualizer;

    std::vector<juce::Component*> middleRow;
    std::vector<juce::Component*> bottomRow;

    juce::OwnedArray<OrvelRotaryLabel> labels;
    juce::OwnedArray<juce::Slider> sliders;
    juce::OwnedArray<juce::AudioProcessorValueTreeState::SliderAttachment> attachments;

    std::map<juce::String, juce::Slider*> slidersById;
    std::map<juce::String, juce::String> idsByName;

    // The editor is made on the message thread. Comparing thread ids takes no
    // lock, unlike asking the message manager.
    const juce::Thread::ThreadID messageThreadId = juce::Thread::getCurrentThreadId();

    // Last, so it stops before any knob it enables is destroyed. Started once
    // the knobs and the listeners are in place.
    TargetFollower targetFollower { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (QuilloAudioProcessorEditor)
};
