#include "UntrustedXml.h"

#include <expat.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>
#include <string>
#include <vector>

namespace untrustedxml
{
    namespace
    {
        /** Builds the tree from expat's callbacks with an explicit stack of open
            elements, so no input can make it recurse. Each open element collects its
            children in order and receives them when it closes: XmlElement's own
            append walks the whole child list every time. */
        class TreeBuilder
        {
        public:
            TreeBuilder (XML_Parser p, const Limits& l) : parser (p), limits (l)
            {
                open.reserve ((size_t) juce::jmax (0, limits.maxDepth));
            }

            std::unique_ptr<juce::XmlElement> takeRoot()
            {
                return refused || ! open.empty() ? nullptr : std::move (root);
            }

            static void XMLCALL startElement (void* user, const XML_Char* name, const XML_Char** attributes)
            {
                static_cast<TreeBuilder*> (user)->guarded ([&] (TreeBuilder& b) { b.start (name, attributes); });
            }

            static void XMLCALL endElement (void* user, const XML_Char*)
            {
                static_cast<TreeBuilder*> (user)->guarded ([] (TreeBuilder& b) { b.end(); });
            }

            static void XMLCALL characterData (void* user, const XML_Char* text, int length)
            {
                static_cast<TreeBuilder*> (user)->guarded ([&] (TreeBuilder& b) { b.pendingText.append (text, (size_t) length); });
            }

            static void XMLCALL processingInstruction (void* user, const XML_Char*, const XML_Char*)
            {
                static_cast<TreeBuilder*> (user)->refuse();
            }

            static void XMLCALL startDoctype (void* user, const XML_Char*, const XML_Char*, const XML_Char*, int)
            {
                static_cast<TreeBuilder*> (user)->refuse();
            }

            static void XMLCALL entityDeclaration (void* user, const XML_Char*, int, const XML_Char*, int,
                                                   const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*)
            {
                static_cast<TreeBuilder*> (user)->refuse();
            }

            static void XMLCALL skippedEntity (void* user, const XML_Char*, int)
            {
                static_cast<TreeBuilder*> (user)->refuse();
            }

        private:
            struct OpenElement
            {
                juce::XmlElement* element;
                std::vector<std::unique_ptr<juce::XmlElement>> children;
            };

            // expat may still deliver a callback or two after being stopped; they are ignored.
            // Nothing may unwind through expat's C frames, so a failed allocation refuses the input.
            template <typename Handler>
            void guarded (Handler&& handler)
            {
                if (refused)
                    return;

                try
                {
                    handler (*this);
                }
                catch (...)
                {
                    refuse();
                }
            }

            void refuse()
            {
                if (! refused)
                {
                    refused = true;
                    XML_StopParser (parser, XML_FALSE);
                }
            }

            bool countElement()
            {
                if (numElements >= limits.maxElements)
                {
                    refuse();
                    return false;
                }

                ++numElements;
                return true;
            }

            static bool isValidName (const juce::String& name)
            {
                // expat checks names against XML's rules; JUCE's own check must agree too,
                // or the tree could not be written out and read back.
                return juce::XmlElement::isValidXmlName (name);
            }

            void start (const XML_Char* name, const XML_Char** attributes)
            {
                flushText();

                if (refused || (int) open.size() >= limits.maxDepth || ! countElement())
                    return refuse();

                int numAttributes = 0;

                for (auto** a = attributes; *a != nullptr; a += 2)
                    if (++numAttributes > limits.maxAttributesPerElement)
                        return refuse();

                const auto tagName = juce::String::fromUTF8 (name);

                if (! isValidName (tagName))
                    return refuse();

                auto element = std::make_unique<juce::XmlElement> (tagName);

                for (auto** a = attributes; *a != nullptr; a += 2)
                {
                    const auto attributeName = juce::String::fromUTF8 (a[0]);

                    if (! isValidName (attributeName))
                        return refuse();

                    element->setAttribute (juce::Identifier (attributeName), juce::String::fromUTF8 (a[1]));
                }

                auto* raw = element.get();

                if (open.empty())
                    root = std::move (element);
                else
                    open.back().children.push_back (std::move (element));

                open.push_back ({ raw, {} });
            }

            void end()
            {
                flushText();

                if (refused || open.empty())
                    return refuse();

                auto& closing = open.back();

                for (auto child = closing.children.rbegin(); child != closing.children.rend(); ++child)
                    closing.element->prependChildElement (child->release());

                open.pop_back();
            }

            // Text between two tags becomes one text element, as juce::XmlDocument
            // makes it, and white space alone is dropped as it drops it.
            void flushText()
            {
                if (pendingText.empty())
                    return;

                const auto text = juce::String::fromUTF8 (pendingText.data(), (int) pendingText.size());
                pendingText.clear();

                if (! text.containsNonWhitespaceChars() || open.empty())
                    return;

                if (countElement())
                    open.back().children.emplace_back (juce::XmlElement::createTextElement (text));
            }

            XML_Parser parser;
            const Limits& limits;
            std::unique_ptr<juce::XmlElement> root;
            std::vector<OpenElement> open;
            std::string pendingText;
            int numElements = 0;
            bool refused = false;

            JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TreeBuilder)
        };

        struct ParserDeleter
        {
            void operator() (XML_Parser p) const noexcept { XML_ParserFree (p); }
        };
    }

    std::unique_ptr<juce::XmlElement> parse (const void* data, size_t numBytes, const Limits& limits)
    {
        if (data == nullptr || numBytes == 0 || numBytes > limits.maxBytes || numBytes > (size_t) INT_MAX)
            return {};

        // The encoding given here overrides any declaration in the text.
        std::unique_ptr<XML_ParserStruct, ParserDeleter> parser (XML_ParserCreate ("UTF-8"));

        if (parser == nullptr)
            return {};

        TreeBuilder builder (parser.get(), limits);

        XML_SetUserData (parser.get(), &builder);
        XML_SetElementHandler (parser.get(), TreeBuilder::startElement, TreeBuilder::endElement);
        XML_SetCharacterDataHandler (parser.get(), TreeBuilder::characterData);
        XML_SetProcessingInstructionHandler (parser.get(), TreeBuilder::processingInstruction);
        XML_SetStartDoctypeDeclHandler (parser.get(), TreeBuilder::startDoctype);
        XML_SetEntityDeclHandler (parser.get(), TreeBuilder::entityDeclaration);
        XML_SetSkippedEntityHandler (parser.get(), TreeBuilder::skippedEntity);
        XML_SetParamEntityParsing (parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

        if (XML_Parse (parser.get(), static_cast<const char*> (data), (int) numBytes, XML_TRUE) != XML_STATUS_OK)
            return {};

        return builder.takeRoot();
    }

    double readDecimalNumber (const juce::String& text)
    {
        auto p = text.getCharPointer().findEndOfWhitespace();
        std::string number;   // only the decimal number, for the C library to convert
        bool negative = false;

        if (*p == '-' || *p == '+')
        {
            negative = *p == '-';
            ++p;
        }

        const auto lower = [&p] (int i) { return juce::CharacterFunctions::toLowerCase (p[i]); };

        if (lower (0) == 'n' && lower (1) == 'a' && lower (2) == 'n')
            return std::numeric_limits<double>::quiet_NaN();

        if (lower (0) == 'i' && lower (1) == 'n' && lower (2) == 'f')
            return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();

        const auto isDigit = [] (juce::juce_wchar c) { return c >= '0' && c <= '9'; };

        if (negative)
            number += '-';

        bool anyDigit = false, point = false;

        for (;; ++p)
        {
            if (isDigit (*p))
                anyDigit = true;
            else if (*p == '.' && ! point)
                point = true;
            else
                break;

            number += (char) *p;
        }

        if (! anyDigit)
            return 0.0;

        // An exponent counts only with at least one digit: "1e" and "1e+" read as 1.
        if (*p == 'e' || *p == 'E')
        {
            auto q = p + 1;
            std::string exponent ("e");

            if (*q == '-' || *q == '+')
                exponent += (char) *q++;

            if (isDigit (*q))
            {
                for (; isDigit (*q); ++q)
                    exponent += (char) *q;

                number += exponent;
            }
        }

        // The C library converts exactly and saturates any exponent; in the "C" locale, so the
        // decimal point is a point whatever the user's locale says.
        static const auto cLocale = newlocale (LC_ALL_MASK, "C", nullptr);
        return strtod_l (number.c_str(), nullptr, cLocale);
    }
}
