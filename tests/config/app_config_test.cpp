#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

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

std::string tlsName(FtpTls tls) {
    return tls == FtpTls::Auto ? "auto" : tls == FtpTls::Require ? "require" : "off";
}

// Every setting that cannot be used is named with its file and line and leaves the built-in
// value; the values beside the bad ones are taken.
TEST(ConfigReader, NamesEveryValueItCannotUse) {
    const fs::path root = fs::temp_directory_path() / "k9_config_problems";
    fs::remove_all(root);
    fs::create_directories(root / "folder.conf");
    std::ofstream(root / "ca.pem") << "-----BEGIN CERTIFICATE-----\nMIIB\n";
    std::ofstream(root / "empty.pem");
    const std::string ca = (root / "ca.pem").string(), empty = (root / "empty.pem").string();
    using Get = std::string (*)(const AppConfig&);
    const Get ftp = [](const AppConfig& c) { return c.ftpHost; };
    const Get web = [](const AppConfig& c) { return c.webHost; };
    const Get dir = [](const AppConfig& c) { return c.workDir; };
    const Get trace = [](const AppConfig& c) { return std::string(c.trace ? "on" : "off"); };
    const Get check = [](const AppConfig& c) { return std::string(c.checkAtStart ? "on" : "off"); };
    const Get tls = [](const AppConfig& c) { return tlsName(c.ftpTls); };
    const Get caFile = [](const AppConfig& c) { return c.ftpCaFile; };
    const Get com1 = [](const AppConfig& c) { return c.devicePath(1); };
    const Get com12 = [](const AppConfig& c) { return c.devicePath(12); };
    const std::string noPort = "has no port from 1 to 65535 after the colon";
    const std::string F = "ftp.quillmark.com", W = "www.quillmark.com", S0 = "/dev/ttyS0";
    const struct {
        std::string text;  // "": name a missing file, "/": name a folder
        Get get;
        std::string value;
        std::vector<std::string> problems;
    } cases[] = {
        {"", ftp, F, {"(No such file or directory)"}},
        {"/", ftp, F, {"(it is not a file)"}},
        {"ftp_host = 127.0.0.1:2121", ftp, "127.0.0.1:2121", {}},
        {"ftp_host = h:65535", ftp, "h:65535", {}},
        {"ftp_host = h:1", ftp, "h:1", {}},
        {"ftp_host = [::1]:21", ftp, "[::1]:21", {}},
        {"ftp_host = ::1", ftp, "::1", {}},
        {"ftp_host = 127.0.0.1:notaport", ftp, F, {"1: ftp_host \"127.0.0.1:notaport\" " + noPort}},
        {"ftp_host = h:65536", ftp, F, {"1: ftp_host \"h:65536\" " + noPort}},
        {"ftp_host = h:0", ftp, F, {noPort}},
        {"ftp_host = h:", ftp, F, {noPort}},
        {"ftp_host = :2121", ftp, F, {"names no host"}},
        {"ftp_host = :", ftp, F, {"1: ftp_host \":\" names no host"}},
        {"ftp_host =", ftp, F, {"1: ftp_host is empty"}},
        {"ftp_host = ftp://h", ftp, F, {"starts with a scheme such as ftp://"}},
        {"ftp_host = ftp.example.test 21", ftp, F, {"has a blank in it"}},
        {"ftp_host = user@h", ftp, F, {"is not a host name or address"}},
        {"ftp_host = [::1", ftp, F, {"is not an IPv6 address in brackets"}},
        {"web_host = localhost:8080", web, "localhost:8080", {}},
        {"web_host = http://w.test",
         web,
         W,
         {"1: web_host \"http://w.test\" starts with a scheme"}},
        {"web_host = www.example .test", web, W, {"has a blank in it"}},
        {"work_dir = /tmp", dir, "/tmp", {}},
        {"work_dir = /tmp\nwork_dir =", dir, "", {}},
        {"work_dir = tmp/k9", dir, "", {"1: work_dir \"tmp/k9\" is not a full path"}},
        {"work_dir = /dev/null", dir, "", {"1: work_dir \"/dev/null\" is a file, not a folder"}},
        {"trace = YES", trace, "on", {}},
        {"trace = on\ntrace = 0", trace, "off", {}},
        {"trace = maybe", trace, "off", {"1: trace must be on or off, not \"maybe\""}},
        {"trace =", trace, "off", {"1: trace must be on or off, not \"\""}},
        {"check_at_start = off", check, "off", {}},
        {"check_at_start = daily", check, "on", {"1: check_at_start must be on or off"}},
        {"ftp_tls = Require", tls, "require", {}},
        {"ftp_tls = off", tls, "off", {}},
        {"ftp_tls = on", tls, "auto", {"1: ftp_tls must be auto, require or off, not \"on\""}},
        {"ftp_tls =", tls, "auto", {"ftp_tls must be auto, require or off, not \"\""}},
        {"ftp_ca_file = " + ca, caFile, ca, {}},
        {"ftp_ca_file =", caFile, "", {}},
        {"ftp_ca_file = ca.pem", caFile, "", {"1: ftp_ca_file \"ca.pem\" is not a full path"}},
        {"ftp_ca_file = /no/a.pem", caFile, "", {"\"/no/a.pem\" cannot be read (No such file or"}},
        {"ftp_ca_file = " + root.string(), caFile, "", {"cannot be read (it is not a file)"}},
        {"ftp_ca_file = " + empty, caFile, "", {"holds no certificate (PEM)"}},
        {"[Ports]\r\ncom12 = /dev/x\r\n", com12, "/dev/x", {}},
        {"[ports]\nCOM13 = /dev/x", com12, "/dev/ttyACM3", {"2: com13 is not in the port list"}},
        {"[ports]\nLPT1 = /dev/lp0", com1, S0, {"2: \"lpt1\" is not a port name (COM1 to COM12)"}},
        {"[ports]\nCOM1 =", com1, S0, {"2: com1 names no device"}},
        {"[ports]\nCOM1 = ttyUSB0", com1, S0, {"2: com1 \"ttyUSB0\" is not a full device path"}},
        {"[port]\nCOM1 = /dev/x\nCOM2 = /dev/y",
         com1,
         S0,
         {"1: section [port] is not one of this program's (its one section is [ports])",
          "2: \"com1\" is under [port], which is not read", "3: \"com2\" is under [port]"}},
        {"[ports\nCOM1 = /dev/x",
         com1,
         S0,
         {"1: \"[ports\" is not a section name",
          "2: \"com1\" is under a section name that cannot be read"}},
        {"web_host = ok\nno equals here", web, "ok", {"2: \"no equals here\" is not a setting"}},
        {"ftp_hots = x", ftp, F, {"1: \"ftp_hots\" is not a setting of this program"}},
    };
    for (const auto& c : cases) {
        const char* name = c.text.empty()  ? "missing.conf"
                           : c.text == "/" ? "folder.conf"
                                           : "bad.conf";
        ConfigLocations where;
        where.named = (root / name).string();
        if (c.text.size() > 1) {
            std::ofstream(where.named) << c.text;
        }
        const AppConfig config = loadAppConfig(where);
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.get(config), c.value);
        ASSERT_EQ(config.problems.size(), c.problems.size())
            << (config.problems.empty() ? "" : config.problems.front());
        for (std::size_t i = 0; i < c.problems.size(); ++i) {
            const std::string& problem = config.problems[i];
            EXPECT_NE(problem.find(c.problems[i]), std::string::npos) << problem;
            EXPECT_NE(problem.find(where.named), std::string::npos) << problem;
            if (c.text.size() > 1) {
                EXPECT_EQ(problem.rfind(where.named + ", line ", 0), 0u) << problem;
                EXPECT_TRUE(problem.ends_with("; ignored.")) << problem;
            }
        }
    }
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
    const char* names[] = {"HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* value = std::getenv(name);
        saved.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    for (const auto& c : cases) {
        ::setenv("HOME", c.home, 1);
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME"}) {
            c.xdg != nullptr ? ::setenv(name, c.xdg, 1) : ::unsetenv(name);
        }
        EXPECT_EQ(stateFolder(), c.state);
        EXPECT_EQ(configFolder(), c.config);
        EXPECT_EQ(ConfigLocations::fromEnvironment("/p").user, c.config + "/k9updater.conf");
    }
    for (std::size_t i = 0; i < saved.size(); ++i) {
        saved[i] ? ::setenv(names[i], saved[i]->c_str(), 1) : ::unsetenv(names[i]);
    }
}

}  // namespace
}  // namespace k9
