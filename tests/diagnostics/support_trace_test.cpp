#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <regex>

#include "diagnostics/support_trace.h"
#include "file_bytes.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

// A line is what the unit or the server sent, secrets masked in any case, then escaped.
TEST(SupportTraceText, MasksThenEscapes) {
    const std::vector<TraceSecret> secrets{{"K9A1234", 2}, {"4321A9K", 0}};
    const std::pair<std::string, std::string> cases[] = {
        {"#FTPUNk9a1234\r\n", "#FTPUNk9*****\\r\\n"},
        {std::string("\x03\r\n", 3), "\\x03\\r\\n"},
        {std::string("\x00\xfe\x7f~\t\\", 6), "\\x00\\xfe\\x7f~\\t\\\\"},
        {"STOR K9A1234.txt / PASS 4321a9k", "STOR K9*****.txt / PASS *******"},
        {std::string(200, 'a'), std::string(kTraceLineBytes, 'a') + " ... (40 more bytes)"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(escapeTraceText(maskSecrets(text, secrets)), shown);
    }
}

class SupportTraceFile : public ::testing::Test {
  protected:
    QTemporaryDir scratch_;
    std::string dir_ = scratch_.path().toStdString();
    std::int64_t ms_ = 1000;
    SupportTrace::Clock clock_ = [this] { return ms_; };
    std::string error_;
};

TEST_F(SupportTraceFile, HoldsLinesUntilTheSecretIsKnownSoASplitSerialIsMasked) {
    SupportTrace trace;
    ASSERT_TRUE(trace.open(dir_, "9.9.9", clock_, &error_));
    trace.hold();
    trace.line("rx", "#FTPUNK9");
    ms_ += 2000;
    trace.line("rx", "a1234\r\n");
    trace.addSecret("K9A1234", 2);
    trace.line("status", "K9 Serial Number: K9A1234");
    const std::string path = trace.path();
    trace.close("done");
    const std::string text = test::readBytes(path);
    EXPECT_NE(text.find("program: k9updater 9.9.9\n"), std::string::npos);
    EXPECT_NE(text.find("     2000  rx    *****\\r\\n"), std::string::npos) << text;
    EXPECT_NE(text.find("rx    #FTPUNK9\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Serial Number: K9*****"), std::string::npos);
    EXPECT_EQ(text.find("a1234"), std::string::npos);
    EXPECT_EQ(text.find("A1234"), std::string::npos);
}

TEST_F(SupportTraceFile, KeepsTheNewestTwentyCapsTheSizeAndSurvivesAnUnwritableFolder) {
    const struct {
        const char* name;
        int oldFiles;
        std::size_t lines;
        bool unwritable;
    } cases[] = {
        {"rotation", 25, 10, false},
        {"size cap", 0, 60000, false},
        {"unwritable folder", 0, 10, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (int i = 0; i < c.oldFiles; ++i) {
            std::ofstream(dir_ + "/k9trace-2020010" + std::to_string(i % 10) + "-0000" +
                          std::to_string(i / 10) + ".txt");
        }
        std::string folder = dir_;
        if (c.unwritable) {
            std::ofstream(dir_ + "/plain-file");
            folder = dir_ + "/plain-file/traces";
        }
        SupportTrace trace;
        EXPECT_EQ(trace.open(folder, "9.9.9", clock_, &error_), !c.unwritable);
        const std::string line(100, 'x');
        for (std::size_t i = 0; i < c.lines; ++i) {
            trace.line("rx", line);  // a closed trace takes this and writes nothing
        }
        const std::string path = trace.path();
        trace.close("done");
        if (c.unwritable) {
            EXPECT_FALSE(trace.on());
            continue;
        }
        const auto files = traceFiles(folder);
        EXPECT_EQ(files.size(), c.oldFiles > 0 ? kTraceKeptFiles : 1u);
        EXPECT_EQ(files.back(), path);
        // Named by date, time and milliseconds, so the newest sorts last.
        EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(),
                                     std::regex(R"(k9trace-\d{8}-\d{6}-\d{3}(_\d+)?\.txt)")))
            << path;
        const std::string text = test::readBytes(path);
        EXPECT_LE(text.size(), kTraceMaxBytes);
        EXPECT_EQ(text.ends_with("trace cut: the file reached its 5 MB limit\n"),
                  c.lines * line.size() > kTraceMaxBytes);
        // The six oldest made room for the new one: the last of them and the first one kept.
        EXPECT_FALSE(fs::exists(dir_ + "/k9trace-20200101-00002.txt"));
        EXPECT_EQ(fs::exists(dir_ + "/k9trace-20200102-00000.txt"), c.oldFiles > 0);
    }
}

}  // namespace
}  // namespace k9
