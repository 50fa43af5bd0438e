#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <vector>

#include "app/app_texts.h"
#include "app/repaint_throttle.h"
#include "app/settings_file.h"
#include "app/settings_line.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

TEST(SettingsLine, FieldsComeFromBetweenTheStars) {
    struct Case {
        std::string text;
        std::string port, filter, test;
    };
    const std::vector<Case> cases{
        {"*3*1*\r\n", "3", "1", "\r"},
        {"*3*0*t*", "3", "0", "t"},
        {"*12*1*", "12", "1", ""},
        {"*12*0*t*", "12", "0", "t"},
        {"**1*", "", "1", ""},  // no port saved
        {"*3*x*", "3", "x", ""},
        {"*3*0*T*", "3", "0", "T"},
        {"", "", "", ""},
        {"*", "", "*", ""},
        // Files older versions could not have written read as those versions read them.
        {"*3", "3", "*", "3"},
        {"7", "7", "7", "7"},
    };
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
    const std::map<std::string, std::string> cases{
        {" 3", "3"}, {" 12", "12"}, {"12 - In Use", "12"}, {"3 - In Use", "3"}, {"", ""}};
    for (const auto& [entry, saved] : cases) {
        EXPECT_EQ(savedPortValue(entry), saved) << entry;
    }
    EXPECT_EQ(iniLine("12", true, ""), "*12*1*\r\n");
    EXPECT_EQ(iniLine("3", false, "t"), "*3*0*t*\r\n");
    EXPECT_EQ(iniLine("", true, "T"), "**1*\r\n");
    // What is written reads back the same, within the characters a reader looks at.
    const std::string line = iniLine(savedPortValue(" 12"), false, "t");
    ASSERT_LE(line.size(), kIniReadLength);
    const IniFields back = parseIniText(line);
    EXPECT_EQ(back.port, "12");
    EXPECT_FALSE(filterWanted(back.filter));
    EXPECT_EQ(back.test, "t");
    EXPECT_TRUE(isPortNumber("12"));
    EXPECT_FALSE(isPortNumber(""));
    EXPECT_FALSE(isPortNumber("1 "));
}

class SettingsFileTest : public ::testing::Test {
  protected:
    std::string path(const char* name) const { return (dir.path() + "/" + name).toStdString(); }
    QTemporaryDir dir;
};

TEST_F(SettingsFileTest, ReplacesTheFileWholeEvenWhenReadOnly) {
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

TEST_F(SettingsFileTest, AFailedWriteThrowsAndLeavesNothing) {
    EXPECT_FALSE(readSettingsText(path("missing.ini"), 16).has_value());
    EXPECT_THROW(replaceSettingsFile(path("no-such-folder/QK.ini"), "*1*1*\r\n"), RuntimeError);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST(AppTexts, TitleAndAddresses) {
    EXPECT_EQ(versionTitle("Sentrel K9", "1.9.3"), "Sentrel K9 Updater (v1.9.3)");
    EXPECT_EQ(versionTitle("Sentrel K9", "1.09.0003"), "Sentrel K9 Updater (v1.9.3)");
    EXPECT_EQ(versionTitle("Sentrel K9", "2.0.10"), "Sentrel K9 Updater (v2.0.10)");
    EXPECT_EQ(versionTitle("Sentrel K9", "3"), "Sentrel K9 Updater (v3.0.0)");
    EXPECT_EQ(troubleshootingUrl("web.example"), "http://web.example?p=K9CheckListGuide");
    EXPECT_EQ(downloadUrl("web.example"), "http://web.example/index.cfm?p=Software&d=type=K9");
    EXPECT_EQ(missingGuideText("/opt/k9/UserGuide.rtf"),
              "File in Use or Could Not Be Found (/opt/k9/UserGuide.rtf)");
}

TEST(AppTexts, InstructionsAreSevenLinesWithEnDashes) {
    const std::string text = instructionsText();
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find("\r\n", from)) != std::string::npos; from = at + 2) {
        lines.push_back(text.substr(from, at - from));
    }
    lines.push_back(text.substr(from));
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "On the K9: ");
    EXPECT_EQ(lines[3], "3. PRESS and hold down the MODE/MENU button until TONE is displayed. ");
    EXPECT_EQ(lines[4],
              "4. Press MUTE/CANCEL button twice \xE2\x80\x93 DOWNLOAD should be displayed.");
    EXPECT_EQ(lines[5], "5. Press SELECT twice \xE2\x80\x93 CONNECT should be displayed.");
    EXPECT_EQ(lines[6], "6. Click on START UPDATE on the computer.");
}

TEST(AppTexts, FailureReportsNameTheWebHostAndTheError) {
    EXPECT_EQ(startupFailureText("www.example.com", 429, "Cannot create object"),
              "An error has occurred whilst initialising. \r\n\r\n"
              "Please check the Troubleshooting Guides at \r\n"
              "www.example.com for latest information. \r\n\r\n"
              "Please check that the Critical Updates and Service Packs for your \r\n"
              "Operating System are up to date by visiting the Windows Update Website. \r\n\r\n"
              "Install all Updates available and then uninstall and reinstall \r\n"
              "the Sentrel software and try again. \r\n\r\n"
              "429 Cannot create object");
    EXPECT_EQ(folderFailureText("/home/driver/.local/state/k9updater/"),
              "Error, unable to create /home/driver/.local/state/k9updater folder. You may need "
              "extra security permissions to create files and folders. This program needs to be "
              "able to create a /home/driver/.local/state/k9updater folder and to be able to "
              "create files in that folder in order to work. ");
}

// The throttle on a clock the test moves by hand.
class RepaintThrottleTest : public ::testing::Test {
  protected:
    std::int64_t now = 1000;
    std::vector<std::int64_t> scheduled;
    int applied = 0;
    RepaintThrottle throttle{16, [this] { return now; },
                             [this](std::int64_t d) { scheduled.push_back(d); },
                             [this] { ++applied; }};
};

TEST_F(RepaintThrottleTest, AppliesAtMostOncePerIntervalAndAlwaysTheLast) {
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
    // A change per millisecond for a second: about 60 applications, never two within 16 ms.
    std::int64_t lastApply = now;
    int burst = 0;
    std::int64_t dueAt = -1;
    for (int ms = 0; ms < 1000; ++ms) {
        ++now;
        if (dueAt >= 0 && now >= dueAt) {
            dueAt = -1;
            const int before = applied;
            throttle.timerFired();
            if (applied > before) {
                EXPECT_GE(now - lastApply, 16);
                lastApply = now;
                ++burst;
            }
        }
        const std::size_t before = scheduled.size();
        throttle.changed();
        if (scheduled.size() > before) {
            dueAt = now + scheduled.back();
        }
    }
    EXPECT_LE(burst, 1000 / 16 + 1);
    EXPECT_GE(burst, 1000 / 17 - 1);
    // The last change is still pending and lands when its timer comes.
    EXPECT_TRUE(throttle.pending());
    now = dueAt;
    throttle.timerFired();
    EXPECT_FALSE(throttle.pending());
}

TEST_F(RepaintThrottleTest, FlushAppliesAtOnceAndOnlyWhenSomethingChanged) {
    throttle.flush();
    EXPECT_EQ(applied, 0);
    throttle.changed();
    throttle.flush();
    EXPECT_EQ(applied, 1);
    throttle.timerFired();  // the timer of the flushed change finds nothing to do
    EXPECT_EQ(applied, 1);
}

}  // namespace
}  // namespace k9
