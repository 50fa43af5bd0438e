#include "transfer/cftp.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "diagnostics/support_trace.h"
#include "platform/event_loop.h"
#include "platform/file_table.h"

namespace k9 {
namespace {

constexpr std::size_t kChunk = 255;
constexpr const char* kAgent = "Quillmark";

std::string trimBlanks(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

// A local file opened as raw bytes; failures throw the run-time error of the file operation.
class LocalFile final {
  public:
    LocalFile(const std::string& path, const char* mode) : path_(path) {
        file_ = std::fopen(path.c_str(), mode);
        if (file_ == nullptr) {
            raiseFileError(errno, path, "opening");
        }
        // Chunks are 255 bytes; a larger buffer saves most of the system calls.
        std::setvbuf(file_, nullptr, _IOFBF, 64 * 1024);
    }
    ~LocalFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;

    std::int64_t length() const {
        struct stat st {};
        if (::fstat(::fileno(file_), &st) != 0) {
            raiseFileError(errno, path_, "reading");
        }
        return static_cast<std::int64_t>(st.st_size);
    }
    std::size_t read(char* buffer, std::size_t count) {
        const std::size_t got = std::fread(buffer, 1, count, file_);
        if (got < count && std::ferror(file_)) {
            raiseFileError(errno != 0 ? errno : EIO, path_, "reading");
        }
        return got;
    }
    void write(const char* buffer, std::size_t count) {
        if (count != 0 && std::fwrite(buffer, 1, count, file_) != count) {
            raiseFileError(errno != 0 ? errno : EIO, path_, "writing");
        }
    }
    void close() {
        std::FILE* f = std::exchange(file_, nullptr);
        if (f != nullptr && std::fclose(f) != 0) {
            raiseFileError(errno != 0 ? errno : EIO, path_, "closing");
        }
    }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
};

}  // namespace

struct cFTP::Impl {
    Impl(EventLoop& l, InternetSettings settings) : loop(l), internet(l, settings) {}

    void RecordLastError(std::int32_t lErrorCode, const std::string& sFunctionName) {
        sLastError = sFunctionName + " error code: " + std::to_string(lErrorCode) +
                     " Message: " + internetErrorMessage(static_cast<std::uint32_t>(lErrorCode));
        if (static_cast<std::uint32_t>(lErrorCode) == inet::kExtendedError) {
            sLastError = internetLastResponse().text;
        }
    }
    void recordFailure(const std::string& label) {
        RecordLastError(static_cast<std::int32_t>(internetLastError()), label);
    }

    void raiseProgress(std::int64_t current, std::int64_t total, bool download) {
        // A copy, so a listener may replace itself while it runs.
        const std::shared_ptr<const ProgressListener> listener = progress;
        if (listener && *listener) {
            (*listener)(static_cast<std::int32_t>(current), static_cast<std::int32_t>(total),
                        download);
        }
    }

    void raiseSession(const FtpSessionInfo& info) {
        const std::shared_ptr<const SessionListener> listener = sessionListener;
        if (listener && *listener) {
            (*listener)(info);
        }
    }
    // The file a trace line names, and how it crosses.
    std::string traced(const std::string& file) const {
        return encrypted ? file + " over TLS" : file;
    }

    bool openConnection(const std::string& sServer, const std::string& sUser,
                        const std::string& sPassword);
    void closeConnection();
    std::int32_t fileSize(const std::string& sFile);
    bool upload(const std::string& sLocal, const std::string& sRemote);
    bool download(const std::string& sLocal, const std::string& sRemote);

    EventLoop& loop;
    InternetLayer internet;
    InternetHandle hInternet = 0;
    InternetHandle hConnect = 0;
    InternetHandle hFile = 0;
    std::int32_t lTransferType = static_cast<std::int32_t>(inet::kTransferTypeAscii);
    std::int32_t lConnectFlags = 0;
    std::string sLastError;
    std::string lastCause;
    bool encrypted = false;
    std::shared_ptr<const ProgressListener> progress;
    std::shared_ptr<const SessionListener> sessionListener;
};

namespace {

// Closes the transfer's remote file on every way out, so a failed transfer does not leave
// it open on the connection.
class RemoteFile final {
  public:
    RemoteFile(InternetLayer& internet, InternetHandle& hFile)
        : internet_(internet), hFile_(hFile), handle_(hFile) {}
    ~RemoteFile() {
        if (handle_ != 0) {
            try {
                close();
            } catch (...) {
                // A handler failed while the close waited; the transfer is failing already.
            }
        }
    }
    RemoteFile(const RemoteFile&) = delete;
    RemoteFile& operator=(const RemoteFile&) = delete;

    InternetHandle handle() const { return handle_; }
    // Closes it now; for an upload the result is the server's verdict on the stored file.
    bool close() {
        if (hFile_ == handle_) {
            hFile_ = 0;
        }
        return internet_.closeHandle(std::exchange(handle_, 0));
    }

  private:
    InternetLayer& internet_;
    InternetHandle& hFile_;
    InternetHandle handle_;
};

}  // namespace

bool cFTP::Impl::openConnection(const std::string& sServer, const std::string& sUser,
                                const std::string& sPassword) {
    lConnectFlags = static_cast<std::int32_t>(inet::kFlagPassive);
    lastCause.clear();
    encrypted = false;
    if (hConnect != 0) {
        internet.closeHandle(hConnect);
    }
    if (hInternet != 0) {
        // A session left from an earlier connection is not needed any more.
        internet.closeHandle(std::exchange(hInternet, 0));
    }
    internet.attemptConnect(0);
    loop.yield();
    if (!internet.autodial(inet::kAutodialForceOnline, 0)) {
        return false;
    }
    hInternet = internet.open(kAgent, inet::kOpenTypePreconfig, 0);
    if (hInternet == 0) {
        recordFailure("InternetOpen");
    }
    loop.yield();
    hConnect = internet.connect(hInternet, sServer, inet::kDefaultPort, sUser, sPassword,
                                inet::kServiceFtp, static_cast<std::uint32_t>(lConnectFlags));
    if (hConnect != 0) {
        FtpSessionInfo info;
        if (internet.sessionInfo(hConnect, &info)) {
            encrypted = info.encrypted;
            raiseSession(info);
        }
        loop.yield();
        return true;
    }
    lastCause = internetLastCause();
    recordFailure("InternetConnect");
    return false;
}

void cFTP::Impl::closeConnection() {
    if (hConnect != 0) {
        internet.closeHandle(hConnect);
    }
    hConnect = 0;
    internet.closeHandle(hInternet);
    hInternet = 0;
}

std::int32_t cFTP::Impl::fileSize(const std::string& sFile) {
    std::string pattern = sFile;
    std::replace(pattern.begin(), pattern.end(), ' ', '?');
    FtpFindData found;
    const InternetHandle hFind = internet.ftpFindFirstFile(hConnect, pattern, &found, 0);
    const std::uint32_t code = internetLastError();
    if (hFind != 0) {
        internet.closeHandle(hFind);
        return static_cast<std::int32_t>(found.fileSizeLow);
    }
    if (code == inet::kNoMoreFiles) {
        return -1;
    }
    RecordLastError(static_cast<std::int32_t>(code), "FtpFindFirstFile");
    return -2;
}

bool cFTP::Impl::upload(const std::string& sLocalIn, const std::string& sRemoteIn) {
    const std::string sLocal = trimBlanks(sLocalIn);
    const std::string sRemote = trimBlanks(sRemoteIn);
    if (sLocal.empty() || sRemote.empty()) {
        return false;
    }
    hFile = internet.ftpOpenFile(hConnect, sRemote, inet::kGenericWrite,
                                 static_cast<std::uint32_t>(lTransferType));
    if (hFile == 0) {
        recordFailure("FtpOpenFile:PutFile");
        return false;
    }
    RemoteFile remote(internet, hFile);
    const InternetHandle handle = remote.handle();
    loop.yield();

    LocalFile local(sLocal, "rb");
    const std::int64_t total = local.length();
    std::int64_t sent = 0;
    const std::int64_t chunks = total / static_cast<std::int64_t>(kChunk);
    char buffer[kChunk];
    std::uint32_t written = 0;
    for (std::int64_t i = 0; i < chunks; ++i) {
        const std::size_t got = local.read(buffer, kChunk);
        if (!internet.writeFile(handle, buffer, static_cast<std::uint32_t>(got), &written)) {
            recordFailure("InternetWriteFile");
            return false;
        }
        loop.yield();
        sent += static_cast<std::int64_t>(kChunk);
        raiseProgress(sent, total, false);
    }
    if (const std::size_t rest = static_cast<std::size_t>(total % kChunk); rest != 0) {
        const std::size_t got = local.read(buffer, rest);
        if (!internet.writeFile(handle, buffer, static_cast<std::uint32_t>(got), &written)) {
            recordFailure("InternetWriteFile2");
            return false;
        }
    }
    loop.yield();
    local.close();
    raiseProgress(total, total, false);
    // The server may still refuse the file now that all of it has arrived.
    if (!remote.close()) {
        recordFailure("InternetCloseHandle");
        return false;
    }
    return true;
}

bool cFTP::Impl::download(const std::string& sLocalIn, const std::string& sRemoteIn) {
    const std::string sLocal = trimBlanks(sLocalIn);
    const std::string sRemote = trimBlanks(sRemoteIn);
    if (sLocal.empty() || sRemote.empty()) {
        return false;
    }
    const std::int32_t size = fileSize(sRemote);
    if (size <= 0) {
        return false;
    }
    hFile = internet.ftpOpenFile(hConnect, sRemote, inet::kGenericRead,
                                 static_cast<std::uint32_t>(lTransferType));
    if (hFile == 0) {
        recordFailure("FtpOpenFile:GetFile");
        return false;
    }
    RemoteFile remote(internet, hFile);
    const InternetHandle handle = remote.handle();
    loop.yield();

    // Created afresh: an older, longer file must not keep its tail.
    LocalFile local(sLocal, "wb");
    std::int64_t counter = 1;
    std::int64_t received = 0;
    const std::int64_t chunks = size / static_cast<std::int64_t>(kChunk);
    std::int64_t chunk = 0;
    char buffer[kChunk];
    for (;;) {
        // A read may bring fewer bytes than asked for; fill the chunk until the data ends.
        std::size_t filled = 0;
        while (filled < kChunk) {
            std::uint32_t got = 0;
            if (!internet.readFile(handle, buffer + filled,
                                   static_cast<std::uint32_t>(kChunk - filled), &got)) {
                recordFailure(chunk < chunks ? "InternetReadFile" : "InternetReadFile2");
                return false;
            }
            if (got == 0) {
                break;
            }
            filled += got;
        }
        local.write(buffer, filled);
        received += static_cast<std::int64_t>(filled);
        if (filled < kChunk) {
            break;
        }
        loop.yield();
        counter += static_cast<std::int64_t>(kChunk);
        ++chunk;
        // The server may send more than the listing said (text mode); the count shown stays
        // within the total.
        raiseProgress(std::min<std::int64_t>(counter, size), size, true);
    }
    if (received < size) {
        // The data ended early although the server confirmed the transfer.
        RecordLastError(static_cast<std::int32_t>(inet::kConnectionAborted),
                        chunk < chunks ? "InternetReadFile" : "InternetReadFile2");
        return false;
    }
    local.close();
    loop.yield();
    raiseProgress(size, size, true);
    if (!remote.close()) {
        recordFailure("InternetCloseHandle");
        return false;
    }
    return true;
}

cFTP::cFTP(EventLoop& loop, InternetSettings settings)
    : impl_(std::make_shared<Impl>(loop, settings)) {}

cFTP::~cFTP() = default;

std::string cFTP::GetLastErrorMessage() const {
    return impl_->sLastError;
}

bool cFTP::OpenConnection(const std::string& sServer, const std::string& sUser,
                          const std::string& sPassword) {
    const std::shared_ptr<Impl> impl = impl_;
    TraceSpan span(impl->internet.trace(), "login to", sServer);
    return span.done(impl->openConnection(sServer, sUser, sPassword));
}

void cFTP::CloseConnection() {
    const std::shared_ptr<Impl> impl = impl_;
    impl->closeConnection();
}

bool cFTP::SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote) {
    const std::shared_ptr<Impl> impl = impl_;
    if (!impl->internet.ftpPutFile(impl->hConnect, sLocal, sRemote,
                                   static_cast<std::uint32_t>(impl->lTransferType))) {
        impl->recordFailure("SimpleFtpPutFile");
        return false;
    }
    return true;
}

bool cFTP::FTPUploadFile(const std::string& sLocal, const std::string& sRemote) {
    const std::shared_ptr<Impl> impl = impl_;
    TraceSpan span(impl->internet.trace(), "upload of", impl->traced(sRemote));
    return span.done(impl->upload(sLocal, sRemote), sLocal);
}

bool cFTP::FTPDownloadFile(const std::string& sLocal, const std::string& sRemote) {
    const std::shared_ptr<Impl> impl = impl_;
    TraceSpan span(impl->internet.trace(), "download of", impl->traced(sRemote));
    return span.done(impl->download(sLocal, sRemote), sLocal);
}

bool cFTP::SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote) {
    const std::shared_ptr<Impl> impl = impl_;
    if (!impl->internet.ftpGetFile(
            impl->hConnect, sRemote, sLocal, false, inet::kFileAttributeNormal,
            static_cast<std::uint32_t>(impl->lTransferType) | inet::kFlagReload)) {
        impl->recordFailure("SimpleFtpGetFile");
        return false;
    }
    return true;
}

std::int32_t cFTP::GetFTPFileSize(const std::string& sFile) {
    const std::shared_ptr<Impl> impl = impl_;
    return impl->fileSize(sFile);
}

std::int64_t cFTP::remoteFileTime(const std::string& sFile) {
    const std::shared_ptr<Impl> impl = impl_;
    std::int64_t time = 0;
    if (!impl->internet.ftpGetFileTime(impl->hConnect, sFile, &time)) {
        impl->recordFailure("FtpGetFileTime");
        return -1;
    }
    return time;
}

void cFTP::SetModeActive() {
    impl_->lConnectFlags = 0;
}

void cFTP::SetModePassive() {
    impl_->lConnectFlags = static_cast<std::int32_t>(inet::kFlagPassive);
}

void cFTP::setTrace(SupportTrace* trace) {
    impl_->internet.setTrace(trace);
}

void cFTP::setSessionListener(SessionListener listener) {
    impl_->sessionListener = std::make_shared<const SessionListener>(std::move(listener));
}

std::string cFTP::failureCause() const {
    return impl_->lastCause;
}

void cFTP::setFileTransferProgress(ProgressListener listener) {
    impl_->progress = std::make_shared<const ProgressListener>(std::move(listener));
}

}  // namespace k9
