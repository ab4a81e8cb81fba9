#include "AppTestSupport.h"
#include "QuilloAudioProcessor.h"
#include "SettingsFile.h"
#include "SettingsOptions.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace app_tests;

namespace
{
    bool hasDefaultParameters (juce::AudioProcessor& processor)
    {
        for (auto* parameter : processor.getParameters())
            if (parameter->getValue() != parameter->getDefaultValue())
                return false;

        return true;
    }

    /** Quillo's own file text for the values. */
    juce::MemoryBlock ownText (const juce::StringPairArray& values)
    {
        const auto text = settingsguard::fileText (values);
        return text ? *text : juce::MemoryBlock();
    }

    /** Runs the action in a child process whose files may grow to maxFileBytes
        only, as on a nearly full disk, and returns what it wrote to standard error. */
    std::string runWithFileSizeLimit (rlim_t maxFileBytes, const std::function<void()>& action)
    {
        const auto errors = juce::File::createTempFile (".stderr");
        const auto child = fork();

        if (child == 0)
        {
            const auto fd = ::open (errors.getFullPathName().toRawUTF8(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2 (fd, STDERR_FILENO);
            std::signal (SIGXFSZ, SIG_IGN);
            const rlimit limit { maxFileBytes, maxFileBytes };
            ::setrlimit (RLIMIT_FSIZE, &limit);
            action();
            _exit (0);
        }

        int status = 0;
        ::waitpid (child, &status, 0);
        EXPECT_TRUE (WIFEXITED (status) && WEXITSTATUS (status) == 0);
        const auto printed = errors.loadFileAsString().toStdString();
        errors.deleteFile();
        return printed;
    }

    juce::StringPairArray manyValues (int count)
    {
        juce::StringPairArray values (false);
        values.set ("marker", "kept");

        for (int i = 0; i < count; ++i)
            values.set ("key" + juce::String (i), "a value of some length, " + juce::String (i));

        return values;
    }
}

//==============================================================================
// On a full disk a write comes back short. JUCE's writer ignores that and
// renames the truncated file over the good one; none of that may happen here.
TEST_F (AppTest, AFullDiskKeepsTheOldFileByteForByteAndSaysWhy)
{
    const auto values = manyValues (200);
    ASSERT_GT (ownText (values).getSize(), 8000u);

    struct Case
    {
        const char* what;
        juce::MemoryBlock old;
        std::function<void()> save;
    };

    // The same values in another layout, which start-up rewrites.
    juce::MemoryOutputStream loose;
    loose << "<PROPERTIES>";

    for (int i = 0; i < values.size(); ++i)
        loose << "<VALUE val=\"" << values.getAllValues()[i] << "\" name=\"" << values.getAllKeys()[i] << "\"/>";

    loose << "</PROPERTIES>";

    const Case cases[] = {
        { "start-up rewrite", loose.getMemoryBlock(), [] { settingsfile::prepare (settingsFile()); } },
        { "save at exit", ownText (values), [values] {
             settingsfile::Settings settings (settingsFile(), values, testing_support::settingsOptionsWithoutTimer());
             settings.getAllProperties().set ("windowX", "10");
             settings.setNeedsToBeSaved (true);
             settings.save();
         } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        writeSettings (c.old);

        const auto printed = runWithFileSizeLimit (4096, c.save);

        EXPECT_EQ (contentOf (settingsFile()), c.old);
        const auto lines = ourLines (printed);
        ASSERT_EQ (lines.size(), 1) << printed;
        EXPECT_TRUE (lines[0].contains ("could not be saved")) << printed;
        EXPECT_TRUE (lines[0].contains ("File too large")) << printed;
        EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);

        // With room on the disk the same save goes through.
        c.save();
        EXPECT_NE (contentOf (settingsFile()), c.old);
        EXPECT_EQ (settingsfile::prepare (settingsFile()).values["marker"], "kept");
    }
}

// The host changes a value and expects it on disk a few seconds later.
TEST_F (AppTest, AChangeIsSavedAfterAWhileThroughTheSameWriter)
{
    startApp();
    auto& settings = *app->getMainWindow()->getPluginHolder()->settings;
    settings.setValue ("marker", "changed");
    ASSERT_FALSE (settingsFile().exists());

    EXPECT_TRUE (pumpUntil ([] { return settingsfile::prepare (settingsFile()).values["marker"] == "changed"; }));
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 1);
}

TEST_F (AppTest, StartRemovesWhatAnInterruptedSaveLeft)
{
    writeSettings (ownText (manyValues (1)));
    const auto folder = settingsFile().getParentDirectory();

    for (const auto* name : { "Quillo_temp1a2b3c.settings", "Quillo_tempXXXXXX.settings", "other_temp1.settings", "Quillo_temp1.txt" })
        ASSERT_TRUE (folder.getChildFile (name).replaceWithText ("<PROPERTIES"));

    startApp();

    EXPECT_FALSE (folder.getChildFile ("Quillo_temp1a2b3c.settings").exists());
    EXPECT_FALSE (folder.getChildFile ("Quillo_tempXXXXXX.settings").exists());
    EXPECT_TRUE (folder.getChildFile ("other_temp1.settings").exists());
    EXPECT_TRUE (folder.getChildFile ("Quillo_temp1.txt").exists());
}

// A file just within the bounds, to which the host adds its own keys on every
// save: the save that would take it over is refused, and the file stays one
// that the next start accepts.
TEST_F (AppTest, AFileAtEachLimitSurvivesStartSaveAndTheNextStart)
{
    juce::StringPairArray atByteLimit (false);
    atByteLimit.set ("marker", "kept");
    atByteLimit.set ("pad", "");
    const auto unpadded = ownText (atByteLimit).getSize();
    atByteLimit.set ("pad", juce::String (std::string (settingsguard::maxFileBytes - unpadded, 'x')));

    juce::StringPairArray atElementLimit (false);
    atElementLimit.set ("marker", "kept");

    for (int i = 2; i < settingsguard::fileLimits().maxElements; ++i)
        atElementLimit.set ("k" + juce::String (i), "v");

    for (const auto& [what, values] : { std::pair { "bytes", atByteLimit }, std::pair { "elements", atElementLimit } })
    {
        SCOPED_TRACE (what);
        const auto file = ownText (values);
        ASSERT_GT (file.getSize(), 0u);
        writeSettings (file);

        for (int run = 0; run < 2; ++run)
        {
            startApp();
            EXPECT_EQ (app->getSettingsFiles()->getUserSettings().getValue ("marker"), "kept");

            ::testing::internal::CaptureStderr();
            app->shutdown();
            app = nullptr;
            const auto lines = ourLines (::testing::internal::GetCapturedStderr());

            EXPECT_FALSE (asideFile().exists());
            EXPECT_EQ (contentOf (settingsFile()), file);
            ASSERT_EQ (lines.size(), 1);
            EXPECT_TRUE (lines[0].contains ("largest settings file")) << lines[0];
        }
    }
}

//==============================================================================
namespace
{
    struct CorpusCase
    {
        juce::File file;
        juce::String outcome;
    };

    std::vector<CorpusCase> corpus()
    {
        const juce::File folder (QUILLO_SETTINGS_CORPUS);
        std::vector<CorpusCase> cases;

        for (const auto& line : juce::StringArray::fromLines (folder.getChildFile ("outcomes.txt").loadFileAsString()))
        {
            const auto tokens = juce::StringArray::fromTokens (line, false);

            if (tokens.size() == 2 && ! line.startsWith ("#"))
                cases.push_back ({ folder.getChildFile (tokens[0] + ".settings"), tokens[1] });
        }

        return cases;
    }

    /** Every value the host interprets is one its own readers take safely. */
    void expectSafeForTheHost (const juce::PropertySet& settings)
    {
        for (const auto* key : { "windowX", "windowY" })
            EXPECT_LE (std::abs ((juce::int64) settings.getIntValue (key)), settingsguard::maxWindowCoordinate) << key;

        const auto mute = settings.getValue ("shouldMuteInput", "1");
        EXPECT_TRUE (mute == "0" || mute == "1") << mute;

        EXPECT_TRUE (! settings.containsKey ("filterState") || settingsguard::isMemoryBlockText (settings.getValue ("filterState")));

        if (auto setup = settings.getXmlValue ("audioSetup"))
        {
            const auto copy = std::make_unique<juce::XmlElement> (*setup);
            settingsguard::removeUnsafeDeviceSettings (*copy);
            EXPECT_TRUE (copy->isEquivalentTo (setup.get(), false)) << setup->toString().substring (0, 200);
        }
    }
}

TEST (SettingsCorpus, EveryCaseFileHasOneOutcome)
{
    const auto cases = corpus();
    const juce::File folder (QUILLO_SETTINGS_CORPUS);
    EXPECT_EQ ((int) cases.size(), folder.getNumberOfChildFiles (juce::File::findFiles, "*.settings"));

    for (const auto& c : cases)
    {
        EXPECT_TRUE (c.file.existsAsFile()) << c.file.getFileName();
        EXPECT_TRUE (c.outcome == "ready" || c.outcome == "setAside") << c.file.getFileName();
    }
}

TEST_F (AppTest, StartsOverEveryKindOfHostileSettings)
{
    for (const auto& c : corpus())
    {
        SCOPED_TRACE (c.file.getFileName());
        const auto hostile = contentOf (c.file);
        writeSettings (hostile);

        startApp();
        auto* processor = app->getMainWindow()->getAudioProcessor();
        ASSERT_NE (processor, nullptr);

        if (c.file.getFileName().startsWith ("effect_state_"))
        {
            EXPECT_TRUE (hasDefaultParameters (*processor));
        }

        // What the host was given to read.
        auto& opened = app->getSettingsFiles()->getUserSettings();
        expectSafeForTheHost (opened);
        EXPECT_EQ (opened.getValue ("marker"), c.outcome == "ready" ? "kept" : "");

        app->shutdown();
        app = nullptr;

        EXPECT_EQ (asideFile().existsAsFile() || asideFile().isSymbolicLink(), c.outcome == "setAside");

        if (c.outcome == "setAside")
        {
            EXPECT_TRUE (sameBytes (contentOf (asideFile()), hostile));
        }

        // What was saved at shut-down is read back as it is, and keeps the rest.
        const auto saved = contentOf (settingsFile());
        EXPECT_EQ (settingsguard::ownForm (saved.getData(), saved.getSize()), saved);
        const auto reread = settingsfile::prepare (settingsFile());
        EXPECT_EQ (reread.outcome, settingsfile::Outcome::ready);
        EXPECT_EQ (reread.values["marker"], c.outcome == "ready" ? "kept" : "");
    }
}

TEST_F (AppTest, ReadsSettingsOnlyFromARegularFile)
{
    const auto path = settingsFile().getFullPathName();

    const std::pair<const char*, std::function<bool()>> cases[] = {
        { "link to an endless device", [] { return juce::File ("/dev/zero").createSymbolicLink (settingsFile(), true); } },
        { "named pipe without a writer", [&] { return mkfifo (path.toRawUTF8(), 0600) == 0; } },
    };

    for (const auto& [what, make] : cases)
    {
        SCOPED_TRACE (what);
        settingsFile().getParentDirectory().deleteRecursively();
        settingsFile().getParentDirectory().createDirectory();
        ASSERT_TRUE (make());

        startApp();
        app->shutdown();
        app = nullptr;

        // Moved aside as it is: the link itself, not what it points to.
        EXPECT_TRUE (asideFile().exists());
        EXPECT_EQ (asideFile().isSymbolicLink(), juce::String (what).startsWith ("link"));
        EXPECT_EQ (settingsfile::prepare (settingsFile()).outcome, settingsfile::Outcome::ready);
    }
}

TEST_F (AppTest, LeavesAFileThatCannotBeMovedAsideUntouched)
{
    // A folder in the way of the ".bad" name makes the move fail, whoever runs the test.
    const std::string hostile = "<PROPERTIES><VALUE name=\"windowX\" val=\"10\"/><?x?>y</PROPERTIES>";
    writeSettings (hostile);
    ASSERT_TRUE (asideFile().getChildFile ("in-the-way").create());

    ::testing::internal::CaptureStderr();
    startApp();
    const auto printed = ::testing::internal::GetCapturedStderr();

    const auto lines = ourLines (printed);
    ASSERT_EQ (lines.size(), 1) << printed;
    EXPECT_TRUE (lines[0].contains (settingsFile().getFullPathName())) << printed;
    EXPECT_TRUE (hasDefaultParameters (*app->getMainWindow()->getAudioProcessor()));

    // The run goes on with settings of its own, which are never written.
    app->getMainWindow()->getPluginHolder()->settings->setValue ("filterState", "0.");
    app->shutdown();
    app = nullptr;

    EXPECT_EQ (contentOf (settingsFile()), juce::MemoryBlock (hostile.data(), hostile.size()));
    EXPECT_EQ (settingsFile().getParentDirectory().getNumberOfChildFiles (juce::File::findFilesAndDirectories), 2);
}
