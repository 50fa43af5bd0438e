#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

namespace k9 {

// Sequential files by number, as the update run keeps them: a number is taken with freeFile,
// opened, read or written, and closed by whoever ends the run. Failures throw RuntimeError.
class FileTable {
  public:
    FileTable() = default;
    FileTable(const FileTable&) = delete;
    FileTable& operator=(const FileTable&) = delete;
    ~FileTable() { closeAll(); }

    // Lowest number not in use, from 1.
    std::int16_t freeFile() const;
    void openForInput(std::int16_t no, const std::string& path);
    // Creates the file, or empties an existing one.
    void openForOutput(std::int16_t no, const std::string& path);
    bool isOpen(std::int16_t no) const { return files_.count(no) != 0; }
    std::size_t openCount() const { return files_.size(); }
    bool eof(std::int16_t no);
    // Reads one line: it ends at CR, or at CR LF or CR CR LF taken together; a lone LF belongs
    // to the line.
    std::string lineInput(std::int16_t no);
    void write(std::int16_t no, std::string_view bytes);
    // Closes the file, reporting a failed flush (a full disk, say). Unknown numbers do nothing.
    void close(std::int16_t no);
    // Closes without reporting anything; for clean-up paths.
    void closeQuietly(std::int16_t no);
    void closeAll();

  private:
    struct Entry {
        std::FILE* file = nullptr;
        std::string path;
        std::string pending;  // bytes read ahead and given back, the next one last
    };
    Entry& entry(std::int16_t no);
    static int get(Entry& e);
    void open(std::int16_t no, const std::string& path, const char* mode);

    std::map<std::int16_t, Entry> files_;
};

// Throws the RuntimeError that matches an errno from a file operation on path.
[[noreturn]] void raiseFileError(int osError, const std::string& path, const char* action);

// File-system helpers that throw RuntimeError with the run time's numbers.
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);
// Creates missing parents as usual and the folder itself with mode 0700.
void createFolder(const std::string& path);
void setNormalAttributes(const std::string& path);
void deleteFile(const std::string& path);
// The file's bytes, all of them.
std::string readWholeFile(const std::string& path);
// Replaces the file in one step, so a crash, a full disk or a pulled plug leaves the old file
// or the new one, never a part: written beside it as path + ".new", synced, renamed over it.
// With keepTime the new file keeps the old one's modification time.
void replaceFileAtomically(const std::string& path, std::string_view bytes, bool keepTime);

}  // namespace k9
