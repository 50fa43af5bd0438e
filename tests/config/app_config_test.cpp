#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "config/app_config.h"
#include "config/xdg_paths.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

// Which files are read, and what wins, over a temporary tree standing for /etc, the user's
// config home and the program's folder.
TEST(ConfigLookup, NamedFileElseSystemThenUserElseBesideTheProgram) {
    const fs::path root = fs::temp_directory_path() / "k9_config_lookup";
    struct Case {
        bool named, user, system, beside;
        std::string webHost, ftpHost, com1;
    };
    const Case cases[] = {
        {false, false, false, false, "www.quillmark.com", "ftp.quillmark.com", "/dev/ttyS0"},
        {false, false, false, true, "beside", "ftp.quillmark.com", "/dev/ttyS0"},
        {false, false, true, true, "etc", "etc-ftp", "/dev/etc"},
        {false, true, false, true, "user", "ftp.quillmark.com", "/dev/ttyS0"},
        // The user's file overrides the system one key by key.
        {false, true, true, true, "user", "etc-ftp", "/dev/etc"},
        {true, true, true, true, "named", "ftp.quillmark.com", "/dev/ttyS0"},
    };
    for (const Case& c : cases) {
        fs::remove_all(root);
        fs::create_directories(root);
        // Each file is there when its flag is set; the named one is only named then.
        auto file = [&](bool there, const char* name, const char* text) {
            const std::string path = (root / name).string();
            if (there) {
                std::ofstream(path) << text;
            }
            return path;
        };
        const ConfigLocations w{
            c.named ? file(true, "named.conf", "web_host = named\n") : "",
            file(c.user, "user.conf", "web_host = user\n"),
            file(c.system, "etc.conf",
                 "web_host = etc\nftp_host = etc-ftp\n[ports]\nCOM1 = /dev/etc\n"),
            file(c.beside, "beside.conf", "web_host = beside\n")};
        const AppConfig config = loadAppConfig(w);
        SCOPED_TRACE(c.webHost);
        EXPECT_EQ(config.webHost, c.webHost);
        EXPECT_EQ(config.ftpHost, c.ftpHost);
        EXPECT_EQ(config.devicePath(1), c.com1);
        EXPECT_TRUE(config.problems.empty()) << config.problems.front();
    }
    fs::remove_all(root);
}

// Whatever cannot be read is named with its file and line, and the rest still applies.
TEST(ConfigLookup, ProblemsNameTheFileAndLine) {
    const fs::path root = fs::temp_directory_path() / "k9_config_problems";
    fs::remove_all(root);
    fs::create_directories(root / "folder.conf");
    struct Case {
        std::string text;  // empty: name a missing file, "/": name a folder
        std::string problem;
    };
    const Case cases[] = {
        {"", "Cannot read " + (root / "missing.conf").string() + " (No such file or directory)"},
        {"/", "Cannot read " + (root / "folder.conf").string() + " (it is not a file)"},
        {"web_host = ok\nno equals here\n", "line 2: \"no equals here\" is not a setting"},
        {"ftp_hots = x\n", "line 1: \"ftp_hots\" is not a setting of this program"},
        {"trace = maybe\n", "line 1: trace must be on or off, not \"maybe\""},
        {"[ports]\nCOM13 = /dev/ttyUSB0\n", "line 2: com13 is not in the port list"},
        {"[ports]\r\nLPT1 = /dev/lp0\r\n", "line 2: \"lpt1\" is not a port name (COM1 to COM12)"},
        {"[ports\nCOM1 = /dev/x\n", "line 1: \"[ports\" is not a section name"},
        {"[ports]\nCOM2 =\n", "line 2: com2 names no device"},
        {"work_dir = /dev/null\n", "line 1: work_dir \"/dev/null\" is a file, not a folder"},
    };
    for (const Case& c : cases) {
        const char* name = c.text.empty()  ? "missing.conf"
                           : c.text == "/" ? "folder.conf"
                                           : "bad.conf";
        ConfigLocations where;
        where.named = (root / name).string();
        if (c.text.size() > 1) {
            std::ofstream(where.named) << c.text;
        }
        const AppConfig config = loadAppConfig(where);
        ASSERT_EQ(config.problems.size(), 1u) << c.text;
        EXPECT_NE(config.problems[0].find(c.problem), std::string::npos) << config.problems[0];
        EXPECT_EQ(config.devicePath(2), "/dev/ttyS1");
        if (c.text.size() > 1) {
            EXPECT_EQ(config.problems[0].rfind(where.named, 0), 0u) << config.problems[0];
        }
    }
    EXPECT_TRUE(parseAppConfig("trace = on\n").trace);
    fs::remove_all(root);
}

// COM1-4 are the built-in ports, COM5-8 USB adapters, COM9-12 USB modems' serial ports.
TEST(AppConfig, DefaultPortsFollowLinuxNamesAndKeysAndThePortSectionAreReadIgnoringJunk) {
    const AppConfig defaults = parseAppConfig("");
    EXPECT_TRUE(defaults.workDir.empty());
    EXPECT_EQ(defaults.devicePath(1), "/dev/ttyS0");
    EXPECT_EQ(defaults.devicePath(4), "/dev/ttyS3");
    EXPECT_EQ(defaults.devicePath(5), "/dev/ttyUSB0");
    EXPECT_EQ(defaults.devicePath(9), "/dev/ttyACM0");
    EXPECT_EQ(defaults.devicePath(12), "/dev/ttyACM3");
    EXPECT_EQ(defaults.devicePath(13), "");

    const AppConfig config = parseAppConfig(
        "# comment\r\n"
        "ftp_host = 127.0.0.1:2121\r\n"
        "web_host=example.test\n"
        "work_dir=/tmp/k9\n"
        "[ports]\n"
        "COM1=/tmp/k9/ttyK9\n"
        "com12 = /dev/ttyUSB7\n"
        "COM0=/dev/null\n"
        "[other]\n"
        "ftp_host=ignored.example\n"
        "[broken\n"
        "COM2=/dev/ignored\n");
    EXPECT_EQ(config.ftpHost, "127.0.0.1:2121");
    EXPECT_EQ(config.webHost, "example.test");
    EXPECT_EQ(config.workDir, "/tmp/k9");
    EXPECT_EQ(config.devicePath(1), "/tmp/k9/ttyK9");
    EXPECT_EQ(config.devicePath(12), "/dev/ttyUSB7");
    EXPECT_EQ(config.devicePath(2), "/dev/ttyS1");
    EXPECT_EQ(config.ports.count(0), 0u);
}

// A relative XDG value is invalid and stands for nothing; a trailing separator is dropped.
TEST(XdgFolders, AbsoluteValuesElseTheHomeDefaults) {
    const struct {
        const char* home;
        const char* xdg;  // null: unset
        std::string state, config;
    } cases[] = {
        {"/h", nullptr, "/h/.local/state/k9updater", "/h/.config/k9updater"},
        {"/h", "/x/", "/x/k9updater", "/x/k9updater"},
        {"/h", "relative/x", "/h/.local/state/k9updater", "/h/.config/k9updater"},
        {"", "", "./.local/state/k9updater", "./.config/k9updater"},
    };
    const std::string home = homeFolder();
    for (const auto& c : cases) {
        ::setenv("HOME", c.home, 1);
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
            c.xdg != nullptr ? ::setenv(name, c.xdg, 1) : ::unsetenv(name);
        }
        EXPECT_EQ(stateFolder(), c.state);
        EXPECT_EQ(configFolder(), c.config);
        EXPECT_EQ(ConfigLocations::fromEnvironment("/p").user, c.config + "/k9updater.conf");
    }
    ::setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace k9
