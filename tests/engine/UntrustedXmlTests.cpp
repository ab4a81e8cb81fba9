#include "UntrustedXml.h"

#include <gtest/gtest.h>

namespace
{
    std::unique_ptr<juce::XmlElement> parseText (const std::string& text, const untrustedxml::Limits& limits = {})
    {
        return untrustedxml::parse (text.data(), text.size(), limits);
    }

    std::string repeated (const std::string& piece, int times)
    {
        std::string result;
        for (int i = 0; i < times; ++i)
            result += piece;
        return result;
    }

    std::string nestedText (int depth)
    {
        return repeated ("<a>", depth) + repeated ("</a>", depth);
    }

    juce::String written (const juce::XmlElement& element)
    {
        return element.toString (juce::XmlElement::TextFormat().singleLine().withoutHeader());
    }
}

TEST (UntrustedXml, RefusesHostileAndMalformedText)
{
    struct Case
    {
        const char* what;
        std::string text;
    };
    const Case cases[] {
        { "empty", "" },
        { "not XML", "this is not xml" },
        { "unclosed", "<a><b></a>" },
        { "two roots", "<a/><b/>" },
        { "closing tags in text and a value, nested deeply",
          "<a x=\"/>\">/>" + nestedText (20) + "/></a>" },
        { "\"/>\" repeated after deep nesting", "<PROPERTIES>" + repeated ("<a>/>", 30000) },
        { "processing instruction inside the root", "<PROPERTIES><?x?>y</PROPERTIES>" },
        { "processing instruction before the root", "<?x y?><a/>" },
        { "declaration not at the start", " <?xml version=\"1.0\"?><a/>" },
        { "unterminated character reference", "<Quillo>&#x" },
        { "character reference to NUL", "<a>&#0;</a>" },
        { "stray quote in a start tag", "<a \"><b/></a>" },
        { "duplicated attribute", "<PARAM id=\"rate\" value=\"nan\" value=\"nan\"/>" },
        { "document type", "<!DOCTYPE a><a/>" },
        { "entity expansion", "<!DOCTYPE a [<!ENTITY x \"xxxxxxxx\"><!ENTITY y \"&x;&x;&x;&x;\">]><a>&y;</a>" },
        { "external entity", "<!DOCTYPE a [<!ENTITY x SYSTEM \"/etc/passwd\">]><a>&x;</a>" },
        { "undeclared entity", "<a>&nbsp;</a>" },
        { "bad UTF-8 in text", "<a>\xc3</a>" },
        { "overlong UTF-8", "<a>\xc0\xaf</a>" },
        { "UTF-16 surrogate", "<a>\xed\xa0\x80</a>" },
        { "bad UTF-8 after <?", "<?\xf0\x9f\xff>" },
        { "another declared encoding is still read as UTF-8", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>\xe9</a>" },
        { "NUL byte", std::string ("<a>\0</a>", 8) },
        { "17 levels deep", nestedText (17) },
        { "65 attributes", "<a" + [] { std::string s; for (int i = 0; i < 65; ++i) s += " a" + std::to_string (i) + "=\"\""; return s; }() + "/>" },
        { "4097 elements", "<a>" + repeated ("<b/>", 4096) + "</a>" },
        { "4097 elements counting text", "<a>" + repeated ("<b/>t", 2048) + "</a>" },
        { "over 64 KiB", "<a>" + std::string (64 * 1024, 'x') + "</a>" },
    };

    for (const auto& c : cases)
        EXPECT_EQ (parseText (c.text), nullptr) << c.what;

    EXPECT_EQ (untrustedxml::parse (nullptr, 10, {}), nullptr);
}

TEST (UntrustedXml, ReadsWhatJuceWouldReadFromWellFormedText)
{
    struct Case
    {
        const char* what;
        std::string text;
        const char* expected;
    };
    const Case cases[] {
        { "attributes and children in order", "<a x=\"1\" y='2'><b/><c z=\"3\"/></a>", "<a x=\"1\" y=\"2\"><b/><c z=\"3\"/></a>" },
        { "declaration at the start", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>", "<a/>" },
        { "the five entities and character references",
          "<a v=\"&lt;&gt;&amp;&quot;&apos;&#x41;&#66;\">&lt;&#xe9;&#233;</a>", "<a v=\"&lt;&gt;&amp;&quot;'AB\">&lt;&#233;&#233;</a>" },
        { "white space alone is dropped, other text kept whole", "<a>\n  <b/> x <!-- c --> y<c/></a>", "<a><b/> x  y<c/></a>" },
        { "CDATA is text", "<a><![CDATA[<b/>]]></a>", "<a>&lt;b/&gt;</a>" },
        { "base64: is a plain attribute name", "<a base64:value=\"1000.x\"/>", "<a base64:value=\"1000.x\"/>" },
        { "16 levels deep", nestedText (16), nullptr },
        { "64 attributes", "<a" + [] { std::string s; for (int i = 0; i < 64; ++i) s += " a" + std::to_string (i) + "=\"\""; return s; }() + "/>", nullptr },
        { "4096 elements", "<a>" + repeated ("<b/>", 4095) + "</a>", nullptr },
    };

    for (const auto& c : cases)
    {
        const auto root = parseText (c.text);
        ASSERT_NE (root, nullptr) << c.what;

        if (c.expected != nullptr)
        {
            EXPECT_EQ (written (*root), c.expected) << c.what;
        }

        // JUCE's own parser reads the same tree back from what JUCE writes of it.
        const auto reread = juce::parseXML (written (*root));
        ASSERT_NE (reread, nullptr) << c.what;
        EXPECT_TRUE (reread->isEquivalentTo (root.get(), false)) << c.what;
    }
}

TEST (UntrustedXml, LimitsAreTheCallersToSet)
{
    untrustedxml::Limits small;
    small.maxBytes = 11;
    small.maxDepth = 2;
    small.maxAttributesPerElement = 1;
    small.maxElements = 2;

    EXPECT_NE (parseText ("<a><b/></a>", small), nullptr);
    EXPECT_EQ (parseText ("<a><b><c/></b></a>", untrustedxml::Limits { 100, 2, 1, 10 }), nullptr);
    EXPECT_EQ (parseText ("<a><b/> </a>", small), nullptr);   // 12 bytes
    EXPECT_EQ (parseText ("<a x='' y=''/>", untrustedxml::Limits { 100, 2, 1, 10 }), nullptr);
    EXPECT_EQ (parseText ("<a><b/><c/></a>", untrustedxml::Limits { 100, 2, 1, 2 }), nullptr);
}
