// Writes a seed corpus for the state fuzzer: real states and typical broken ones.

#include "QuilloAudioProcessor.h"

#include <iostream>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: " << argv[0] << " <corpus folder>\n";
        return 2;
    }

    const juce::ScopedJuceInitialiser_GUI gui;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    folder.createDirectory();
    int count = 0;

    auto save = [&] (const juce::MemoryBlock& block) {
        folder.getChildFile ("seed-" + juce::String (count++)).replaceWithData (block.getData(), block.getSize());
    };

    QuilloAudioProcessor processor;
    juce::MemoryBlock state;
    processor.getStateInformation (state);
    save (state);

    for (auto* raw : processor.getParameters())
        raw->setValueNotifyingHost (0.7f);

    processor.getStateInformation (state);
    save (state);

    auto blob = [] (const juce::String& xml, int lengthAdjust = 0) {
        juce::MemoryOutputStream out;
        out.writeInt (0x21324356);
        out.writeInt ((int) xml.getNumBytesAsUTF8() + lengthAdjust);
        out.write (xml.toRawUTF8(), xml.getNumBytesAsUTF8());
        out.writeByte (0);
        return out.getMemoryBlock();
    };

    save (blob ("<QUILLO><PARAM id=\"depth\" value=\"nan\"/><PARAM id=\"rate\" value=\"1e40\"/></QUILLO>"));
    save (blob ("<Quillo><PARAM id=\"depth\" value=\"0.5\"/>", 100));
    save (blob ("<Quillo><a><b><c><d/></c></b></a></Quillo>"));
    save (blob ("<?xml version=\"1.0\"?><Quillo/>"));
    save (blob ("<Quillo a='&#0;&lt;'/>", -3));
    save (blob (""));

    // One seed for each kind of hostile state that the reader refuses or defuses.
    save (blob ("<Quillo x=\"/>\"><a>/><a>/><a>/></a></a></a><PARAM id=\"depth\" value=\"0.9\"/></Quillo>"));
    save (blob ("<Quillo><?x?>y<PARAM id=\"rate\" value=\"2\"/></Quillo>"));
    save (blob ("<Quillo>&#x"));
    save (blob ("<Quillo \"><a><a/></a><PARAM id=\"dry\" value=\"1\"/></Quillo>"));
    save (blob ("<Quillo><PARAM id=\"rate\" value=\"nan\" value=\"nan\"/></Quillo>"));
    save (blob ("<Quillo><PARAM id=\"rate\" base64:value=\"4294967295.A\"/><X base64:a=\"-1.A\"/></Quillo>"));
    save (blob ("<!DOCTYPE Quillo [<!ENTITY a \"&#x30;.5\"><!ENTITY b \"&a;&a;\">]><Quillo><PARAM id=\"depth\" value=\"&b;\"/></Quillo>"));
    save (blob ("<Quillo foo=\"bar\"><PARAM id=\"unknown\" value=\"hello\"/><PARAM id=\"depth\" value=\"0.25\" note=\"&lt;&#10;\"/>"
                "<Extra><Inner a='\"'/></Extra>text<![CDATA[x]]><!-- c --></Quillo>"));

    // Found by the fuzzer: a parameter's value in a child of another tag.
    save (blob ("<QUILLO><PARM id=\"rate\" value=\"1e40\"/></QUILLO>"));
    std::cout << count << " seeds in " << folder.getFullPathName() << "\n";
    return 0;
}
