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
        for (int i = 0; i < depth; ++i) { open << "<a>"; close << "</a>"; }
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

    const char* ids[] { "dry", "wet", "depth", "rate", "waveform", "smoothing", "figure", "sync", "offsetl", "offsetr", "limit" };
    int position = 0;
    for (auto* id : ids)
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

    // Missing parameters return to their defaults; unknown ones stay in the tree.
    {
        QuilloAudioProcessor p;
        changeEverything (p);
        const auto blob = blobOf ("<Quillo><PARAM id=\"depth\" value=\"0.1\"/><PARAM id=\"unknown\" value=\"3\"/></Quillo>");
        p.setStateInformation (blob.getData(), (int) blob.getSize());
        EXPECT_FLOAT_EQ (p.depthParameter.getTargetValue(), 0.1f);
        EXPECT_FLOAT_EQ (p.limitParameter.getTargetValue(), 0.5f);
        EXPECT_FLOAT_EQ (p.rateParameter.getTargetValue(), 0.5f);
        EXPECT_TRUE (textOf (stateOf (p)).contains ("id=\"unknown\""));
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
}

TEST (EffectState, RejectedBlocksChangeNothing)
{
    const auto goodXml = juce::String ("<Quillo><PARAM id=\"depth\" value=\"0.9\"/></Quillo>");
    const juce::uint8 bigEndianMagic[] { 0x21, 0x32, 0x43, 0x56, 1, 0, 0, 0, '<', 0 };
    const juce::uint8 eightBytes[] { 'V', 'C', '2', '!', 1, 0, 0, 0 };
    const juce::uint8 badUtf8AfterQuestion[] { 'V', 'C', '2', '!', 6, 0, 0, 0, '<', '?', 0xf0, 0x9f, 0xff, '>', 0 };

    struct Case { const char* what; juce::MemoryBlock blob; };
    const Case cases[] {
        { "empty", {} },
        { "eight bytes", rawBlob (eightBytes, sizeof (eightBytes)) },
        { "big-endian magic", rawBlob (bigEndianMagic, sizeof (bigEndianMagic)) },
        { "length 0", blobOf (goodXml, -goodXml.getNumBytesAsUTF8()) },
        { "negative length", blobOf (goodXml, -100000) },
        { "not XML", blobOf ("this is not xml") },
        { "broken XML", blobOf ("<Quillo><PARAM id=\"depth\" value=\"0.9\"></Quillo>") },
        { "other root", blobOf ("<Quilo><PARAM id=\"depth\" value=\"0.9\"/></Quilo>") },
        { "declaration", blobOf ("<?xml version=\"1.0\"?>" + goodXml) },
        { "document type", blobOf ("<!DOCTYPE Quillo [<!ENTITY a \"b\">]>" + goodXml) },
        { "malformed UTF-8 after <?", rawBlob (badUtf8AfterQuestion, sizeof (badUtf8AfterQuestion)) },
        { "invalid UTF-8 in a value", blobOf (juce::String ("<Quillo><PARAM id=\"depth\" value=\"") + "\xc3" + "\"/></Quillo>") },
        { "30000 nested elements", blobOf (nested (30000)) },
        { "over 64 KB", blobOf ("<Quillo>" + juce::String::repeatedString ("<PARAM id=\"x\"/>", 6000) + "</Quillo>") },
    };

    for (const auto& c : cases)
    {
        QuilloAudioProcessor p;
        p.setStateInformation (c.blob.getData(), (int) c.blob.getSize());
        SCOPED_TRACE (c.what);
        expectAllDefaults (p);
    }

    QuilloAudioProcessor p;
    p.setStateInformation (nullptr, 100);
    const auto good = blobOf (goodXml);
    p.setStateInformation (good.getData(), -5);
    p.setStateInformation (good.getData(), 8);
    expectAllDefaults (p);
}

TEST (EffectState, SafetyCheckAcceptsRealisticNesting)
{
    auto safe = [] (const char* text) { return stateblob::isSafeXmlText (text, std::strlen (text)); };
    EXPECT_TRUE (safe ("<a b=\"x>y\"><c/></a>"));
    EXPECT_TRUE (safe ("<a>caf\xc3\xa9</a>"));
    const auto deep = nested (stateblob::maxDepth - 1);
    EXPECT_TRUE (stateblob::isSafeXmlText (deep.toRawUTF8(), deep.getNumBytesAsUTF8()));
    const auto tooDeep = nested (stateblob::maxDepth);
    EXPECT_FALSE (stateblob::isSafeXmlText (tooDeep.toRawUTF8(), tooDeep.getNumBytesAsUTF8()));
    EXPECT_FALSE (safe ("<a><!-- x --></a>"));
    EXPECT_FALSE (safe ("\xed\xa0\x80"));   // a UTF-16 surrogate
    EXPECT_FALSE (safe ("\xc0\xaf"));       // overlong
}
