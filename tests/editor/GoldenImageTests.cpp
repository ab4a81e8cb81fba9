// The editor as a user sees it, compared pixel by pixel with reference pictures
// kept beside this file in golden/. A failing comparison writes the picture it
// got and a difference picture into the build folder and says where.
//
// The references change only on purpose. After a deliberate change of the look,
// rewrite them with
//     cmake --build build --target quillo_update_golden_images
// look at them, and commit them with the change.

#include "EditorTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <utility>
#include <vector>

namespace
{
    using namespace editor_testing;

    // Glyph edges may differ in the last bit of their anti-aliasing; nothing else may.
    constexpr int tolerance = 2;

    // What the references were drawn with (fonts-dejavu-core). Another sans-serif
    // font would differ in every caption, so the test says so instead.
    const juce::String referenceTypeface { "DejaVu Sans" };

    const juce::File referenceFolder { QUILLO_GOLDEN_REFERENCES };
    const juce::File outputFolder { QUILLO_GOLDEN_OUTPUT };

    struct Case
    {
        const char* name;
        std::vector<std::pair<const char*, float>> parameters;
    };

    const Case cases[] {
        { "defaults", {} },
        { "synced-square", { { "sync", 1.0f }, { "waveform", 1.0f }, { "limit", 0.3f }, { "smoothing", 0.2f }, { "rate", 2.0f }, { "figure", 2.0f } } },
        { "offsets-and-depth", { { "offsetl", 0.25f }, { "offsetr", 0.6f }, { "depth", 0.9f }, { "rate", 1.5f }, { "waveform", 3.0f } } },
    };

    bool updatingReferences()
    {
        const auto* update = std::getenv ("QUILLO_UPDATE_GOLDEN");
        return update != nullptr && juce::String (update) == "1";
    }

    struct Comparison
    {
        int differingPixels = 0;
        int largestDifference = 0;
        juce::Point<int> firstDifference;
        juce::Image difference;
    };

    /** Pixels beyond the tolerance show red in the difference picture, the
        rest a dimmed copy of the reference. */
    Comparison compare (const juce::Image& actual, const juce::Image& reference)
    {
        Comparison result;
        result.difference = juce::Image (juce::Image::ARGB, actual.getWidth(), actual.getHeight(), true);

        for (int y = 0; y < actual.getHeight(); ++y)
            for (int x = 0; x < actual.getWidth(); ++x)
            {
                const auto expected = reference.getPixelAt (x, y);
                const auto difference = channelDifference (actual.getPixelAt (x, y), expected);
                result.largestDifference = juce::jmax (result.largestDifference, difference);

                if (difference > tolerance)
                {
                    if (result.differingPixels++ == 0)
                        result.firstDifference = { x, y };

                    result.difference.setPixelAt (x, y, juce::Colours::red);
                }
                else
                {
                    result.difference.setPixelAt (x, y, expected.withMultipliedBrightness (0.3f).withAlpha ((juce::uint8) 0xff));
                }
            }

        return result;
    }

    TEST (GoldenImageTest, EditorLooksAsItsReferences)
    {
        const auto typeface = juce::Font (10.0f).getTypefacePtr()->getName();
        ASSERT_EQ (typeface, referenceTypeface) << "the references were drawn with " << referenceTypeface
                                                << " (package fonts-dejavu-core); this machine's sans-serif font is " << typeface;

        for (const auto& c : cases)
        {
            SCOPED_TRACE (c.name);
            QuilloAudioProcessor processor;

            for (const auto& [id, value] : c.parameters)
                setParameter (processor, id, value);

            const auto actual = renderEditor (processor);
            const auto referenceFile = referenceFolder.getChildFile (juce::String (c.name) + ".png");

            if (updatingReferences())
            {
                EXPECT_TRUE (writePng (actual, referenceFile)) << referenceFile.getFullPathName();
                std::cout << "wrote " << referenceFile.getFullPathName() << "\n";
                continue;
            }

            const auto reference = juce::ImageFileFormat::loadFrom (referenceFile);
            ASSERT_TRUE (reference.isValid()) << "no reference picture " << referenceFile.getFullPathName()
                                              << "; make one with: cmake --build <build folder> --target quillo_update_golden_images";
            ASSERT_EQ (actual.getBounds(), reference.getBounds());

            const auto result = compare (actual, reference);
            const auto actualFile = outputFolder.getChildFile (juce::String (c.name) + "-actual.png");
            const auto differenceFile = outputFolder.getChildFile (juce::String (c.name) + "-difference.png");

            // Pictures of an earlier failure would only mislead.
            actualFile.deleteFile();
            differenceFile.deleteFile();

            if (result.differingPixels > 0)
            {
                writePng (actual, actualFile);
                writePng (result.difference, differenceFile);

                ADD_FAILURE() << result.differingPixels << " pixels differ from " << referenceFile.getFullPathName()
                              << " by more than " << tolerance << " in a channel (largest " << result.largestDifference
                              << ", first at " << result.firstDifference.toString() << ")\n"
                              << "  got:        " << actualFile.getFullPathName() << "\n"
                              << "  difference: " << differenceFile.getFullPathName() << " (red: beyond the tolerance)";
            }
        }
    }
}
