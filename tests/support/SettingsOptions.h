#pragma once

#include <juce_data_structures/juce_data_structures.h>

namespace testing_support
{
    /** The application's settings options, without the delayed save: a test
        or fuzz run saves when it means to. */
    inline juce::PropertiesFile::Options settingsOptionsWithoutTimer()
    {
        juce::PropertiesFile::Options options;
        options.applicationName = "Quillo";
        options.filenameSuffix = ".settings";
        options.millisecondsBeforeSaving = -1;
        return options;
    }
}
