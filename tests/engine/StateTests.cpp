#include "StateBlob.h"
#include "TestHelpers.h"

#include <cstring>

using namespace testing_support;

namespace
{
    juce::MemoryBlock blobOf (const juce::String& xml, int lengthAdjust = 0)
    {
        juce::MemoryOutputStream out;
        out.writeInt ((int) stateblob::magic);
        out.writeInt ((int) xml.getNumBytesAsUTF8() + lengthAdjust);
        out.write (xml.toRawUTF8(), xml.getNumBytesAsUTF8());
        out.writeByte (0);
        return out.getMemoryBlock();
    }

    juce::MemoryBlock rawBlob (const void* bytes, size_t size)
    {
        return juce::MemoryBlock (bytes, size);
    }

    juce::String textOf (const juce::MemoryBlock& block)
    {
        return juce::String::fromUTF8 (static_cast<const char*> (block.getData()) + 8, (int) block.getSize() - 9);
    }

    juce::String nested (int depth)
    {
        juce::String open, close;
        for (int i = 0; i < depth; ++i)
        {
            open << "<a>";
            close << "</a>";
        }
        return "<Quillo>" + open + close + "</Quillo>";
    }

    void expectAllDefaults (QuilloAudioProcessor& p)
    {
        QuilloAudioProcessor fresh;
        for (int i = 0; i < fresh.getParameters().size(); ++i)
            EXPECT_EQ (p.getParameters()[i]->getValue(), fresh.getParameters()[i]->getValue())
                << p.getParameters()[i]->getName (20);
    }

    std::unique_ptr<QuilloAudioProcessor> restoredFrom (const juce::MemoryBlock& block)
    {
        auto processor = std::make_unique<QuilloAudioProcessor>();
        processor->setStateInformation (block.getData(), (int) block.getSize());
        return processor;
    }

    void changeEverything (QuilloAudioProcessor& p)
    {
        setParameter (p, "dry", 0.3f);
        setParameter (p, "wet", 0.7f);
        setParameter (p, "depth", 1.0f);
        setParameter (p, "rate", 2.0f);
        setParameter (p, "waveform", 1.0f);
        setParameter (p, "smoothing", 0.4f);
        setParameter (p, "figure", 5.0f);
        setParameter (p, "sync", 1.0f);
        setParameter (p, "offsetl", 0.125f);
        setParameter (p, "offsetr", 0.25f);
        setParameter (p, "limit", 0.75f);
    }
}

TEST (EffectState, WrittenBlockLayout)
{
    QuilloAudioProcessor processor;
    setParameter (processor, "depth", 0.25f);
    const auto block = stateOf (processor);

    ASSERT_GE (block.getSize(), 9u);
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    EXPECT_EQ (juce::String::fromUTF8 ((const char*) bytes, 4), "VC2!");
    EXPECT_EQ (juce::ByteOrder::littleEndianInt (bytes + 4), (juce::uint32) block.getSize() - 9);
    EXPECT_EQ (bytes[block.getSize() - 1], 0);

    const auto text = juce::String::fromUTF8 ((const char*) bytes + 8, (int) block.getSize() - 9);
    EXPECT_TRUE (text.startsWith ("<Quillo>"));
    EXPECT_FALSE (text.containsAnyOf ("\r\n"));

    // The value just set is in the block at once: the tree is brought up to date before writing.
    EXPECT_TRUE (text.contains ("<PARAM id=\"depth\" value=\"0.25\"/>")) << text;
    EXPECT_TRUE (text.contains ("<PARAM id=\"dry\" value=\"0\"/><PARAM id=\"wet\" value=\"1\"/>")) << text;

    int position = 0;
    for (const auto& id : testing_support::parameterIds)
    {
        const auto at = text.indexOf (position, juce::String ("id=\"") + id + "\"");
        ASSERT_GT (at, position) << id;
        position = at;
    }

    // The previous content of the destination is replaced, not appended to.
    juce::MemoryBlock reused ("stale bytes", 11);
    processor.getStateInformation (reused);
    EXPECT_EQ (reused, block);
}

TEST (EffectState, RoundTripRestoresEveryParameter)
{
    QuilloAudioProcessor source;
    changeEverything (source);
    const auto block = stateOf (source);
    const auto target = restoredFrom (block);

    for (int i = 0; i < source.getParameters().size(); ++i)
        EXPECT_FLOAT_EQ (target->getParameters()[i]->getValue(), source.getParameters()[i]->getValue())
            << source.getParameters()[i]->getName (20);

    EXPECT_FLOAT_EQ (target->rateParameter.getTargetValue(), 2.0f);
    EXPECT_FLOAT_EQ (target->offsetRParameter.getTargetValue(), 0.25f);
    EXPECT_EQ (stateOf (*target), block);
}

TEST (EffectState, RestoredBeforePrepareStartsAtTheRestoredValuesWithoutRamp)
{
    QuilloAudioProcessor source;
    changeEverything (source);
    const auto target = restoredFrom (stateOf (source));
    target->prepareToPlay (44100.0, 64);

    auto buffer = constant (2, 64);
    process (*target, buffer);
    EXPECT_EQ (target->tremoloStates[0].depth, 1.0f);
    EXPECT_EQ (target->tremoloStates[0].rate, 2.0f);
    EXPECT_EQ (target->tremoloStates[1].depth, 1.0f);
}

TEST (EffectState, AcceptedVariants)
{
    // Tag in another case: accepted, and written back as spelled.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<QUILLO><PARAM id=\"depth\" value=\"0.9\"/></QUILLO>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.9f);
        EXPECT_TRUE (textOf (stateOf (p)).contains ("<QUILLO>"));
    }

    // A length field beyond the data is cut to the data.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<Quillo><PARAM id=\"rate\" value=\"4\"/></Quillo>", 5000);
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.rateParameter.getTargetValue(), 4.0f);
    }

    // An XML declaration is no harm to the reader.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Quillo><PARAM id=\"depth\" value=\"0.9\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.9f);
    }

    // Missing parameters return to their defaults, and every parameter's element
    // is written with its value again.
    {
        QuilloAudioProcessor p;
        changeEverything (p);
        const auto blob = blobOf ("<Quillo><PARAM id=\"depth\" value=\"0.1\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.1f);
        EXPECT_FLOAT_EQ (p.limitParameter.getTargetValue(), 0.5f);
        EXPECT_FLOAT_EQ (p.rateParameter.getTargetValue(), 0.5f);

        const auto text = textOf (stateOf (p));
        EXPECT_TRUE (text.contains ("<PARAM id=\"dry\" value=\"0\"/><PARAM id=\"wet\" value=\"1\"/>")) << text;
        EXPECT_TRUE (text.contains ("<PARAM id=\"limit\" value=\"0.5\"/>")) << text;
    }

    // Values that are not finite numbers fall back to the default, never into the audio path;
    // out-of-range and non-numeric ones are clamped by the parameter.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<Quillo><PARAM id=\"depth\" value=\"nan\"/><PARAM id=\"rate\" value=\"inf\"/>"
                                  "<PARAM id=\"limit\" value=\"1e40\"/><PARAM id=\"wet\" value=\"abc\"/>"
                                  "<PARAM id=\"dry\" value=\"-7\"/><PARAM id=\"offsetl\" value=\"0.5e99999999999\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.5f);
        EXPECT_FLOAT_EQ (p.rateParameter.getTargetValue(), 0.5f);
        EXPECT_FLOAT_EQ (p.limitParameter.getTargetValue(), 1.0f);   // a finite number beyond the range clamps
        EXPECT_FLOAT_EQ (p.wetParameter.getTargetValue(), 0.0f);
        EXPECT_FLOAT_EQ (p.dryParameter.getTargetValue(), 0.0f);
        EXPECT_FLOAT_EQ (p.offsetLParameter.getTargetValue(), 0.0f);   // overflows: dropped, default

        for (auto* parameter : p.getParameters())
            EXPECT_TRUE (std::isfinite (parameter->getValue()));
    }

    // Numbers are decimal, read as far as they go: a hexadecimal one reads as 0.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<Quillo><PARAM id=\"depth\" value=\"0x1p-2\"/><PARAM id=\"rate\" value=\"0x5\"/>"
                                  "<PARAM id=\"limit\" value=\" 0.25e0dB\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_EQ (p.depthParameter.getTargetValue(), 0.0f);
        EXPECT_EQ (p.rateParameter.getTargetValue(), 0.0f);
        EXPECT_EQ (p.limitParameter.getTargetValue(), 0.25f);
    }

    // The parameter tree takes a value from any child with the parameter's id, whatever
    // its tag, and from the last such child: those values are cleaned up too.
    {
        QuilloAudioProcessor p;
        const auto blob = blobOf ("<Quillo><PARAM id=\"rate\" value=\"2\"/><Other id=\"rate\" value=\"nan\"/>"
                                  "<PARM id=\"depth\" value=\"0.25\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.rateParameter.getTargetValue(), 0.5f);
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.25f);
    }
}

TEST (EffectState, RejectedBlocksChangeNothing)
{
    const auto goodXml = juce::String ("<Quillo><PARAM id=\"depth\" value=\"0.9\"/></Quillo>");
    const auto closed = [] (const juce::String& open, const juce::String& close, int times) {
        return juce::String::repeatedString (open, times) + juce::String::repeatedString (close, times);
    };

    auto withHeader = [] (const char* magic, const juce::String& xml, bool terminated) {
        juce::MemoryOutputStream out;
        out.write (magic, 4);
        out.writeInt ((int) xml.getNumBytesAsUTF8());
        out.write (xml.toRawUTF8(), xml.getNumBytesAsUTF8());
        if (terminated)
            out.writeByte (0);
        return out.getMemoryBlock();
    };

    const juce::uint8 eightBytes[] { 'V', 'C', '2', '!', 1, 0, 0, 0 };
    const juce::uint8 badUtf8AfterQuestion[] { 'V', 'C', '2', '!', 6, 0, 0, 0, '<', '?', 0xf0, 0x9f, 0xff, '>', 0 };

    struct Case
    {
        const char* what;
        juce::MemoryBlock blob;
    };
    const Case cases[] {
        { "empty", {} },
        { "eight bytes", rawBlob (eightBytes, sizeof (eightBytes)) },
        { "big-endian magic before valid XML", withHeader ("!2CV", goodXml, true) },
        { "other magic before valid XML", withHeader ("VC2?", goodXml, true) },
        { "length 0", blobOf (goodXml, -(int) goodXml.getNumBytesAsUTF8()) },
        { "negative length", blobOf (goodXml, -100000) },
        { "not XML", blobOf ("this is not xml") },
        { "broken XML", blobOf ("<Quillo><PARAM id=\"depth\" value=\"0.9\"></Quillo>") },
        { "other root", blobOf ("<Quilo><PARAM id=\"depth\" value=\"0.9\"/></Quilo>") },
        { "\"/>\" in a value and in text, 20 deep",
          blobOf ("<Quillo x=\"/>\">" + closed ("<a>/>", "</a>", 20) + "<PARAM id=\"depth\" value=\"0.9\"/></Quillo>") },
        { "17 deep", blobOf (nested (16)) },
        { "30000 deep", blobOf (nested (30000)) },
        { "processing instruction inside the root", blobOf ("<Quillo><?x?>y<PARAM id=\"depth\" value=\"0.9\"/></Quillo>") },
        { "unterminated character reference, no zero byte", withHeader ("VC2!", "<Quillo>&#x", false) },
        { "stray quote in a start tag", blobOf ("<Quillo \">" + closed ("<a>", "</a>", 20) + "</Quillo>") },
        { "duplicated attribute", blobOf ("<Quillo><PARAM id=\"rate\" value=\"nan\" value=\"nan\"/></Quillo>") },
        { "document type", blobOf ("<!DOCTYPE Quillo>" + goodXml) },
        { "entity expansion", blobOf ("<!DOCTYPE Quillo [<!ENTITY a \"0.9\">]><Quillo><PARAM id=\"depth\" value=\"&a;\"/></Quillo>") },
        { "malformed UTF-8 after <?", rawBlob (badUtf8AfterQuestion, sizeof (badUtf8AfterQuestion)) },
        { "invalid UTF-8 in a value", blobOf (juce::String ("<Quillo><PARAM id=\"depth\" value=\"0.9") + "\xc3" + "\"/></Quillo>") },
        { "over 64 KiB", blobOf ("<Quillo>" + juce::String::repeatedString ("<PARAM id=\"x\"/>", 6000) + "</Quillo>") },
    };

    QuilloAudioProcessor reference;
    changeEverything (reference);

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        QuilloAudioProcessor p;
        changeEverything (p);
        p.setStateInformation (c.blob.getData(), (int) c.blob.getSize());

        for (int i = 0; i < p.getParameters().size(); ++i)
            EXPECT_EQ (p.getParameters()[i]->getValue(), reference.getParameters()[i]->getValue())
                << p.getParameters()[i]->getName (20);
    }

    QuilloAudioProcessor p;
    p.setStateInformation (nullptr, 100);
    const auto good = blobOf (goodXml);
    p.setStateInformation (good.getData(), -5);
    p.setStateInformation (good.getData(), 8);
    expectAllDefaults (p);

    // The deepest nesting accepted, for contrast with the cases above.
    const auto deepest = blobOf (nested (15));
    p.setStateInformation (deepest.getData(), (int) deepest.getSize());
    EXPECT_TRUE (textOf (stateOf (p)).contains ("<a><a>"));
}

TEST (EffectState, WhatTheEffectDoesNotKnowIsWrittenBackAsRead)
{
    QuilloAudioProcessor p;
    const auto blob = blobOf ("<Quillo foo=\"bar\" n=\"1.50\">"
                              "<PARAM id=\"unknown\" value=\"hello\"/>"
                              "<PARAM id=\"depth\" value=\"0.25\" note=\"mine\"/>"
                              "<Extra a=\"&lt;&amp;&#10;\"><Inner base64:value=\"100.A\" value=\"-1.A\"/></Extra>"
                              "<PARAM id=\"x\" base64:value=\"4294967295.A\"/>"
                              "</Quillo>");
    p.setStateInformation (blob.getData(), (int) blob.getSize());
    EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.25f);

    // Known parameters first, their own values only rewritten; the rest in its order, untouched;
    // "base64:" attributes are text like any other, never decoded.
    EXPECT_EQ (textOf (stateOf (p)),
               "<Quillo foo=\"bar\" n=\"1.50\">"
               "<PARAM id=\"dry\" value=\"0\"/><PARAM id=\"wet\" value=\"1\"/>"
               "<PARAM id=\"depth\" value=\"0.25\" note=\"mine\"/>"
               "<PARAM id=\"rate\" value=\"0.5\"/><PARAM id=\"waveform\" value=\"0\"/>"
               "<PARAM id=\"smoothing\" value=\"0.019999999552965164185\"/><PARAM id=\"figure\" value=\"0\"/>"
               "<PARAM id=\"sync\" value=\"0\"/><PARAM id=\"offsetl\" value=\"0\"/>"
               "<PARAM id=\"offsetr\" value=\"0\"/><PARAM id=\"limit\" value=\"0.5\"/>"
               "<PARAM id=\"unknown\" value=\"hello\"/>"
               "<Extra a=\"&lt;&amp;&#10;\"><Inner base64:value=\"100.A\" value=\"-1.A\"/></Extra>"
               "<PARAM id=\"x\" base64:value=\"4294967295.A\"/>"
               "</Quillo>");

    // A parameter's element read as binary data would set that parameter.
    QuilloAudioProcessor q;
    const auto encoded = blobOf ("<Quillo><PARAM id=\"depth\" base64:value=\"4.AAAAA\"/></Quillo>");
    q.setStateInformation (encoded.getData(), (int) encoded.getSize());
    EXPECT_FLOAT_EQ (q.depthParameter.getTargetValue(), 0.5f);
}

TEST (EffectState, WritingIsIdempotentAndAlwaysReadBack)
{
    const auto quotes = juce::String::repeatedString ("\"", 20000);
    const juce::String texts[] {
        "<Quillo/>",
        "<QUILLO z=\"1\"><PARAM id=\"rate\" value=\"3.3\"/><PARAM id=\"rate\" value=\"0.1\" q=\"\"/>text<x>y</x></QUILLO>",
        "<Quillo><PARAM id=\"depth\" value=\"0.3\"/><PARAM value=\"2\"/><PARAM id=\"offsetl\" value=\" +7e-1\"/></Quillo>",
        "<QUILLO><PARM id=\"rate\" value=\"1e40\"/></QUILLO>",
        juce::CharPointer_UTF8 ("<Quillo a=\"&#9;&#13;&#10;\">caf\xc3\xa9<b c=\"\xf0\x9f\x8e\xb5\"/><![CDATA[]]><!-- x --></Quillo>"),
        // Escaping grows these past the reader's limits: the parameters must survive alone.
        "<Quillo a='" + quotes + "'><PARAM id=\"depth\" value=\"0.3\"/></Quillo>",
        "<Quillo><PARAM id=\"depth\" value=\"0.3\"/>" + juce::String::repeatedString ("<e/>", 4090) + "</Quillo>",
    };

    for (const auto& text : texts)
    {
        SCOPED_TRACE (text.substring (0, 120));
        const auto first = stateOf (*restoredFrom (blobOf (text)));
        const auto second = restoredFrom (first);
        EXPECT_EQ (textOf (stateOf (*second)), textOf (first));

        ASSERT_NE (stateblob::read (first.getData(), (int) first.getSize(), "Quillo"), nullptr);
    }

    const auto grown = restoredFrom (blobOf (texts[5]));
    EXPECT_FLOAT_EQ (grown->depthParameter.getTargetValue(), 0.3f);
    EXPECT_TRUE (textOf (stateOf (*grown)).startsWith ("<Quillo><PARAM id=\"dry\""));
}
