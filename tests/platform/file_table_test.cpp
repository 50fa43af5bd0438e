#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "error_number.h"
#include "file_bytes.h"
#include "platform/file_table.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

class FileTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("k9_files_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const char* name) const { return (dir_ / name).string(); }
    std::vector<std::string> lines(const char* name) {
        FileTable files;
        const auto no = files.freeFile();
        files.openForInput(no, path(name));
        std::vector<std::string> out;
        while (!files.eof(no)) {
            out.push_back(files.lineInput(no));
        }
        files.close(no);
        return out;
    }
    std::filesystem::path dir_;
};

TEST_F(FileTableTest, LineEnds) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases{
        {"CR", "one\rtwo\r", {"one", "two"}},
        {"CR LF", "one\r\ntwo\r\n\r\nlast", {"one", "two", "", "last"}},
        {"CR CR LF", "one\r\r\ntwo\r\r\n\r\r\nlast\r\r\n", {"one", "two", "", "last"}},
        {"lone LF", "three\nstill three\n", {"three\nstill three\n"}},
        {"mixed", "a\rb\r\nc\r\r\nd\ne\r\r\r\nf\r\rg", {"a", "b", "c", "d\ne", "", "f", "", "g"}},
        {"CR CR at the end", "a\r\r", {"a", ""}},
        {"CR at the end", "a\r", {"a"}},
        {"no line end", "a", {"a"}},
        {"empty", "", {}},
        {"NUL", std::string("nul\0byte\r\n", 10), {std::string("nul\0byte", 8)}},
    };
    for (const Case& c : cases) {
        test::writeBytes(path("a.txt"), c.bytes);
        EXPECT_EQ(lines("a.txt"), c.lines) << c.what;
    }
}

// Output also empties an existing file.
TEST_F(FileTableTest, NumbersAreHandedOutLowestFirstAndClosingTwiceIsHarmless) {
    test::writeBytes(path("x"), "old and long content");
    FileTable files;
    EXPECT_EQ(files.freeFile(), 1);
    files.openForOutput(1, path("x"));
    EXPECT_EQ(files.freeFile(), 2);
    files.openForOutput(2, path("y"));
    files.write(1, "new");
    files.close(1);
    EXPECT_EQ(std::filesystem::file_size(path("x")), 3u);
    EXPECT_EQ(files.freeFile(), 1);
    files.close(1);
    files.close(0);
    files.closeQuietly(2);
    EXPECT_FALSE(files.isOpen(2));
}

TEST_F(FileTableTest, FailuresCarryTheRunTimeNumbers) {
    FileTable files;
    try {
        files.openForInput(1, path("missing"));
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.number(), err::kFileNotFound);
        EXPECT_EQ(e.osError(), ENOENT);
    }
    EXPECT_THROW(files.lineInput(3), RuntimeError);
    test::writeBytes(path("one"), "x");
    files.openForInput(1, path("one"));
    EXPECT_THROW(files.openForInput(1, path("one")), RuntimeError);
    files.lineInput(1);
    EXPECT_EQ(test::errorNumberOf([&] { files.lineInput(1); }), 62);
    EXPECT_THROW(deleteFile(path("missing")), RuntimeError);
}

// Kept locations keep the time they were first kept; the disk-full rows of the fault matrix
// show the old file staying whole.
TEST_F(FileTableTest, AReplacementIsWholeOrNotAtAll) {
    namespace fs = std::filesystem;
    test::writeBytes(path("k.txt"), "old");
    const auto first = fs::last_write_time(path("k.txt")) - std::chrono::hours(48);
    fs::last_write_time(path("k.txt"), first);
    replaceFileAtomically(path("k.txt"), "new and longer", true);
    EXPECT_EQ(readWholeFile(path("k.txt")), "new and longer");
    EXPECT_EQ(fs::last_write_time(path("k.txt")), first);
    EXPECT_FALSE(fs::exists(path("k.txt.new")));
}

}  // namespace
}  // namespace k9
