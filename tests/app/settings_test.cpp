#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <map>
#include <vector>

#include "app/app_texts.h"
#include "app/repaint_throttle.h"
#include "config/app_config.h"
#include "config/program_vars.h"
#include "config/settings_file.h"
#include "config/settings_line.h"
#include "diagnostics/support_trace.h"
#include "file_bytes.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

TEST(SettingsLine, FieldsComeFromBetweenTheStars) {
    struct Case {
        std::string text, port, filter, test;
    };
    // "**1*" has no port saved; the last two, files older versions could not have written, read
    // as those versions read them.
    const std::vector<Case> cases{
        {"*3*1*\r\n", "3", "1", "\r"}, {"*3*0*t*", "3", "0", "t"}, {"*12*1*", "12", "1", ""},
        {"*12*0*t*", "12", "0", "t"},  {"**1*", "", "1", ""},      {"*3*x*", "3", "x", ""},
        {"*3*0*T*", "3", "0", "T"},    {"", "", "", ""},           {"*", "", "*", ""},
        {"*3", "3", "*", "3"},         {"7", "7", "7", "7"}};
    for (const auto& c : cases) {
        const IniFields f = parseIniText(c.text);
        EXPECT_EQ(f.port, c.port) << c.text;
        EXPECT_EQ(f.filter, c.filter) << c.text;
        EXPECT_EQ(f.test, c.test) << c.text;
    }
}

TEST(SettingsLine, FilterIsOnUnlessAnotherDigitSaysOff) {
    const std::map<std::string, bool> cases{{"1", true}, {"0", false}, {"7", false}, {"x", true},
                                            {"", true},  {"*", true},  {" ", true}};
    for (const auto& [flag, on] : cases) {
        EXPECT_EQ(filterWanted(flag), on) << "'" << flag << "'";
    }
}

TEST(SettingsLine, TheWholePortNumberIsSaved) {
    // The last is not an entry of ours: the first character, as older versions kept it.
    const std::map<std::string, std::string> cases{
        {" 3", "3"},         {" 12", "12"}, {"12 - In Use", "12"},
        {"3 - In Use", "3"}, {"", ""},      {" x - y", "x"}};
    for (const auto& [entry, saved] : cases) {
        EXPECT_EQ(savedPortValue(entry), saved) << entry;
    }
}

TEST(SettingsFile, AFailedWriteLeavesNothingAndTheFileIsReplacedWholeEvenWhenReadOnly) {
    QTemporaryDir dir;
    const auto path = [&dir](const char* name) { return (dir.path() + "/" + name).toStdString(); };
    EXPECT_FALSE(readSettingsText(path("missing.ini"), 16).has_value());
    EXPECT_THROW(replaceSettingsFile(path("no-such-folder/QK.ini"), "*1*1*\r\n"), RuntimeError);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    const std::string ini = path("QK.ini");
    replaceSettingsFile(ini, "*3*1*t*\r\n");
    EXPECT_EQ(readSettingsText(ini, 100), "*3*1*t*\r\n");
    EXPECT_EQ(readSettingsText(ini, 4), "*3*1");

    QFile::setPermissions(QString::fromStdString(ini), QFileDevice::ReadOwner);
    replaceSettingsFile(ini, "*12*0*\r\n");
    EXPECT_EQ(readSettingsText(ini, 100), "*12*0*\r\n");
    // Nothing is left beside it.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("QK.ini")});
}

// The FILES of both man pages and the README's table name the folders the code uses.
TEST(Papers, FilesOfTheManPagesAndTheReadmeAreTheCodesDefaults) {
    const std::string home = "/home/driver";
    ::setenv("HOME", home.c_str(), 1);
    for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
        ::unsetenv(name);
    }
    const auto shown = [&](std::string path) {
        if (path.rfind(home, 0) == 0) {
            path = "~" + path.substr(home.size());
        }
        return path;
    };
    const ConfigLocations where = ConfigLocations::fromEnvironment("/opt/bin");
    const std::vector<std::string> defaults{shown(where.system), shown(where.user),
                                            shown(workingFolder("/opt/bin", "")),
                                            shown(defaultTraceFolder()) + "/"};
    const std::string readme = test::readBytes(K9_SOURCE_DIR "/README.md");
    for (const char* page : {"k9updater.1", "k9update.1"}) {
        const std::string text = test::readBytes(std::string(K9_SOURCE_DIR "/docs/") + page);
        const auto from = text.find(".SH FILES");
        ASSERT_NE(from, std::string::npos) << page;
        const std::string files = text.substr(from, text.find(".SH ", from + 1) - from);
        for (const std::string& path : defaults) {
            EXPECT_NE(files.find(".I " + path + "\n"), std::string::npos) << page << ": " << path;
        }
        for (auto at = files.find(".I "); at != std::string::npos; at = files.find(".I ", at + 1)) {
            std::string named = files.substr(at + 3, files.find('\n', at) - at - 3);
            if (named.ends_with('/')) {
                named.pop_back();
            }
            EXPECT_NE(readme.find(named), std::string::npos) << page << " names " << named;
        }
    }
}

TEST(AppTexts, VersionTitleDropsLeadingZeros) {
    EXPECT_EQ(versionTitle("Sentrel K9", "1.09.0003"), "Sentrel K9 Updater (v1.9.3)");
    EXPECT_EQ(versionTitle("Sentrel K9", "2.0.10"), "Sentrel K9 Updater (v2.0.10)");
    EXPECT_EQ(versionTitle("Sentrel K9", "3"), "Sentrel K9 Updater (v3.0.0)");
}

TEST(RepaintThrottle, AppliesAtMostOncePerIntervalAlwaysTheLastAndAtOnceWhenFlushed) {
    // On a clock the test moves by hand.
    std::int64_t now = 1000;
    std::vector<std::int64_t> scheduled;
    int applied = 0;
    RepaintThrottle throttle{16, [&] { return now; },
                             [&](std::int64_t d) { scheduled.push_back(d); }, [&] { ++applied; }};
    // A flush applies at once, and only when something changed.
    throttle.flush();
    EXPECT_EQ(applied, 0);
    // A burst: the first change is applied at the next turn, the rest wait a full interval.
    throttle.changed();
    ASSERT_EQ(scheduled, std::vector<std::int64_t>{0});
    for (int i = 0; i < 500; ++i) {
        throttle.changed();
    }
    EXPECT_EQ(scheduled.size(), 1u);
    throttle.timerFired();
    EXPECT_EQ(applied, 1);
    now += 3;
    throttle.changed();
    EXPECT_EQ(scheduled.back(), 13);
    now += 13;
    throttle.timerFired();
    EXPECT_EQ(applied, 2);
    // Long after the last one, a change goes at the next turn again; the last change lands.
    now += 100;
    throttle.changed();
    EXPECT_EQ(scheduled.back(), 0);
    EXPECT_TRUE(throttle.pending());
    throttle.timerFired();
    EXPECT_FALSE(throttle.pending());
    EXPECT_EQ(applied, 3);

    throttle.changed();
    throttle.flush();
    EXPECT_EQ(applied, 4);
    throttle.timerFired();  // the timer of the flushed change finds nothing to do
    EXPECT_EQ(applied, 4);
}

}  // namespace
}  // namespace k9
