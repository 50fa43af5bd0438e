#include "platform/file_table.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/os_errors.h"
#include "platform/runtime_error.h"

namespace k9 {
namespace {

constexpr const char* kSource = "File";

}  // namespace

[[noreturn]] void raiseFileError(int osError, const std::string& path, const char* action) {
    const OsErrorMeaning meaning = osErrorMeaning(osError, false);
    throw RuntimeError(meaning.number, kSource,
                       std::string(meaning.text) + " (" + action + " " + path + ": " +
                           std::strerror(osError) + ")",
                       osError);
}

std::int16_t FileTable::freeFile() const {
    std::int16_t no = 1;
    while (files_.count(no) != 0) {
        ++no;
    }
    return no;
}

void FileTable::open(std::int16_t no, const std::string& path, const char* mode) {
    if (no <= 0) {
        throw RuntimeError(err::kBadFileNumber, kSource, "Bad file name or number");
    }
    if (isOpen(no)) {
        throw RuntimeError(err::kFileAlreadyOpen, kSource, "File already open");
    }
    std::FILE* f = std::fopen(path.c_str(), mode);
    if (f == nullptr) {
        raiseFileError(errno, path, "opening");
    }
    files_[no] = Entry{f, path, {}};
}

void FileTable::openForInput(std::int16_t no, const std::string& path) {
    open(no, path, "rb");
}

void FileTable::openForOutput(std::int16_t no, const std::string& path) {
    open(no, path, "wb");
}

FileTable::Entry& FileTable::entry(std::int16_t no) {
    auto it = files_.find(no);
    if (it == files_.end()) {
        throw RuntimeError(err::kBadFileNumber, kSource, "Bad file name or number");
    }
    return it->second;
}

int FileTable::get(Entry& e) {
    if (!e.pending.empty()) {
        const int c = static_cast<unsigned char>(e.pending.back());
        e.pending.pop_back();
        return c;
    }
    return std::getc(e.file);
}

bool FileTable::eof(std::int16_t no) {
    Entry& e = entry(no);
    if (!e.pending.empty()) {
        return false;
    }
    const int c = std::getc(e.file);
    if (c == EOF) {
        if (std::ferror(e.file)) {
            raiseFileError(errno ? errno : EIO, e.path, "reading");
        }
        return true;
    }
    std::ungetc(c, e.file);
    return false;
}

std::string FileTable::lineInput(std::int16_t no) {
    Entry& e = entry(no);
    if (eof(no)) {
        throw RuntimeError(err::kInputPastEnd, kSource, "Input past end of file");
    }
    std::string line;
    for (int c = get(e); c != EOF; c = get(e)) {
        if (c == '\r') {
            const int next = get(e);
            if (next == '\r') {
                // A Unix server sends a stored CR LF as CR CR LF in ASCII mode.
                const int third = get(e);
                if (third == '\n') {
                    return line;
                }
                if (third != EOF) {
                    e.pending.push_back(static_cast<char>(third));
                }
            }
            if (next != '\n' && next != EOF) {
                e.pending.push_back(static_cast<char>(next));
            }
            return line;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(e.file)) {
        raiseFileError(errno ? errno : EIO, e.path, "reading");
    }
    return line;
}

void FileTable::write(std::int16_t no, std::string_view bytes) {
    Entry& e = entry(no);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), e.file) != bytes.size()) {
        raiseFileError(errno ? errno : EIO, e.path, "writing");
    }
}

void FileTable::close(std::int16_t no) {
    auto it = files_.find(no);
    if (it == files_.end()) {
        return;
    }
    Entry e = it->second;
    files_.erase(it);
    const bool flushed = std::fflush(e.file) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(e.file) == 0;
    if (!flushed || !closed) {
        raiseFileError(flushed ? errno : flushError, e.path, "closing");
    }
}

void FileTable::closeQuietly(std::int16_t no) {
    auto it = files_.find(no);
    if (it != files_.end()) {
        std::fclose(it->second.file);
        files_.erase(it);
    }
}

void FileTable::closeAll() {
    while (!files_.empty()) {
        closeQuietly(files_.begin()->first);
    }
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void createFolder(const std::string& path) {
    std::filesystem::path folder = std::filesystem::path(path).lexically_normal();
    if (!folder.has_filename()) {
        folder = folder.parent_path();
    }
    std::error_code ec;
    if (folder.has_parent_path()) {
        std::filesystem::create_directories(folder.parent_path(), ec);
        if (ec) {
            raiseFileError(ec.value(), path, "creating folder");
        }
    }
    // The settings and the driver's locations are nobody else's business.
    if (::mkdir(folder.c_str(), 0700) != 0) {
        const int error = errno;
        if (error != EEXIST || !folderExists(path)) {
            raiseFileError(error, path, "creating folder");
        }
    }
}

void setNormalAttributes(const std::string& path) {
    std::error_code ec;
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
        std::filesystem::perm_options::add, ec);
    if (ec) {
        raiseFileError(ec.value(), path, "setting attributes of");
    }
}

void deleteFile(const std::string& path) {
    if (std::remove(path.c_str()) != 0) {
        raiseFileError(errno, path, "deleting");
    }
}

std::string readWholeFile(const std::string& path) {
    std::string bytes;
    char buffer[4096];
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        raiseFileError(errno, path, "opening");
    }
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) != 0;) {
        bytes.append(buffer, got);
    }
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        raiseFileError(error ? error : EIO, path, "reading");
    }
    return bytes;
}

void replaceFileAtomically(const std::string& path, std::string_view bytes, bool keepTime) {
    const std::string fresh = path + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        raiseFileError(errno, fresh, "opening");
    }
    const auto fail = [&](const char* action) {
        const int error = errno ? errno : EIO;
        ::close(fd);
        ::unlink(fresh.c_str());
        raiseFileError(error, fresh, action);
    };
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            fail("writing");
        }
        done += static_cast<std::size_t>(n);
    }
    struct stat old {};
    if (keepTime && ::stat(path.c_str(), &old) == 0) {
        const struct timespec times[2] = {old.st_atim, old.st_mtim};
        // The time only tells how old the content is; the new bytes matter more than it.
        (void)::futimens(fd, times);
    }
    if (::fsync(fd) != 0) {
        fail("writing");
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        raiseFileError(error, fresh, "closing");
    }
    if (::rename(fresh.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(fresh.c_str());
        raiseFileError(error, path, "replacing");
    }
    // The rename itself lasts once the folder is synced too; the file is whole either way.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const int dir =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
}

}  // namespace k9
