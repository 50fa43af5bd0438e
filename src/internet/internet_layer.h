#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/ftp_tls.h"
#include "internet/internet_errors.h"

namespace k9 {

class EventLoop;
class SupportTrace;

// A handle of the internet layer; 0 is no handle.
using InternetHandle = std::uint32_t;

// Flags and values of the calls, in the platform library's numbering.
namespace inet {
inline constexpr std::uint32_t kOpenTypePreconfig = 0;
inline constexpr std::uint32_t kServiceFtp = 1;
inline constexpr std::uint32_t kFlagPassive = 0x08000000;
inline constexpr std::uint32_t kFlagReload = 0x80000000;
inline constexpr std::uint32_t kTransferTypeAscii = 1;
inline constexpr std::uint32_t kTransferTypeBinary = 2;
inline constexpr std::uint32_t kGenericRead = 0x80000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kAutodialForceOnline = 1;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80;
inline constexpr std::uint16_t kDefaultPort = 0;
}  // namespace inet

struct InternetSettings {
    // Connecting and logging in give up after this long.
    std::chrono::milliseconds connectTimeout{30000};
    // A transfer or command that moves no byte for this long fails.
    std::chrono::milliseconds stallTimeout{60000};
    // Longest wait on the network between two turns of the event loop.
    std::chrono::milliseconds waitSlice{20};
    // Received bytes held for the reader before the download pauses; written bytes held
    // before a write waits for the network.
    std::size_t streamBufferBytes = 256 * 1024;
    // FTP over TLS; plain FTP unless asked for (ftpSettingsFor gives the configured one).
    FtpTls tls = FtpTls::Off;
    // CA certificates trusted beside the system's store; empty: the system's alone.
    std::string caFile{};
    // Where the servers that have spoken TLS are remembered, so that auto holds them to it;
    // empty: nowhere.
    std::string tlsHostsFile{};
};

// What a logged-in session turned out to be.
struct FtpSessionInfo {
    std::string server{};  // host:port
    bool encrypted = false;
    std::string tlsVersion{};  // "TLSv1.3", when encrypted
    std::string cipher{};      // "TLS_AES_256_GCM_SHA384", when encrypted
};

// What a directory search returns for one entry.
struct FtpFindData {
    std::string fileName;
    std::uint32_t fileSizeLow = 0;
    std::uint32_t fileSizeHigh = 0;
    bool directory = false;
};

// The subset of the platform's internet library that the FTP client uses, over libcurl.
// All calls are synchronous for the caller, but while one waits on the network it gives the
// event loop turns. A handler running in such a turn may close any handle: the waiting call
// then fails with kOperationCancelled, and what it was using is freed only once the outermost
// call has returned. Failures set the thread's last error code (internetLastError) and, when
// the server refused, its reply (internetLastResponse).
class InternetLayer final {
  public:
    explicit InternetLayer(EventLoop& loop, InternetSettings settings = {});
    ~InternetLayer();
    InternetLayer(const InternetLayer&) = delete;
    InternetLayer& operator=(const InternetLayer&) = delete;

    const InternetSettings& settings() const { return settings_; }
    // The FTP commands and replies of every later transfer go to this trace while it is on.
    void setTrace(SupportTrace* trace) { trace_ = trace; }
    SupportTrace* trace() const { return trace_; }

    // Dial-up checks of the platform; this machine is always online.
    std::uint32_t attemptConnect(std::uint32_t reserved);
    bool autodial(std::uint32_t flags, std::uintptr_t parentWindow);

    InternetHandle open(const std::string& agent, std::uint32_t accessType, std::uint32_t flags);
    // Connects and logs in. server is a host name or address, optionally with ":port"; a
    // non-zero port argument wins over it. flags: kFlagPassive or 0 for active mode.
    InternetHandle connect(InternetHandle session, const std::string& server, std::uint16_t port,
                           const std::string& user, const std::string& password,
                           std::uint32_t service, std::uint32_t flags);
    // Opens a remote file (relative to the login folder) for reading or writing. The server
    // has accepted the transfer when this returns a handle.
    InternetHandle ftpOpenFile(InternetHandle connection, const std::string& fileName,
                               std::uint32_t access, std::uint32_t flags);
    // Reads what has arrived, at most toRead bytes, waiting until at least one byte is there.
    // bytesRead 0 with true means the server has ended the data and confirmed the transfer.
    bool readFile(InternetHandle file, void* buffer, std::uint32_t toRead,
                  std::uint32_t* bytesRead);
    bool writeFile(InternetHandle file, const void* buffer, std::uint32_t toWrite,
                   std::uint32_t* bytesWritten);
    bool ftpPutFile(InternetHandle connection, const std::string& localFile,
                    const std::string& remoteFile, std::uint32_t flags);
    bool ftpGetFile(InternetHandle connection, const std::string& remoteFile,
                    const std::string& localFile, bool failIfExists, std::uint32_t attributes,
                    std::uint32_t flags);
    // Finds the first entry of the login folder (or the pattern's folder) matching pattern,
    // where "?" is any one character and "*" any run. No match: 0 with kNoMoreFiles.
    InternetHandle ftpFindFirstFile(InternetHandle connection, const std::string& pattern,
                                    FtpFindData* findData, std::uint32_t flags);
    // The remote file's modification time from the server's MDTM, in seconds since the epoch;
    // 0 when the server does not answer MDTM. A missing file fails with the server's reply.
    bool ftpGetFileTime(InternetHandle connection, const std::string& fileName,
                        std::int64_t* secondsSinceEpoch);
    // Closes a handle and everything opened under it. Closing a file opened for writing
    // completes the upload and reports the server's verdict on it.
    bool closeHandle(InternetHandle handle);
    // What the connection's login turned out to be; false for a handle that is not one.
    bool sessionInfo(InternetHandle connection, FtpSessionInfo* info);

    struct Object;
    struct Session;
    struct Connection;
    struct Transfer;
    struct Find;

  private:
    class CallScope;
    enum class Phase { Connect, Transfer };

    template <typename T>
    std::shared_ptr<T> lookup(InternetHandle handle);
    InternetHandle addHandle(const std::shared_ptr<Object>& object);
    void retire(const std::shared_ptr<Object>& object);
    bool fail(std::uint32_t code);
    // The transfer a read or write names, after checking its arguments; null, with the error
    // set, when they do not fit.
    // The connection a whole-file put or get names, when its file names are given and no
    // transfer is running on it; null, with the error set, otherwise.
    std::shared_ptr<Connection> idleConnectionFor(InternetHandle connectionHandle,
                                                  const std::string& localFile,
                                                  const std::string& remoteFile);
    // Moves a whole file to or from the server, to its end; `alive` is false when the handle
    // was closed meanwhile. Null, with the error set, when the transfer cannot start.
    std::shared_ptr<Transfer> runWholeFile(const std::shared_ptr<Connection>& connection,
                                           const std::string& remoteFile, std::uint32_t flags,
                                           std::FILE* file, bool upload, bool& alive);
    std::shared_ptr<Transfer> transferFor(InternetHandle file, bool writing, const void* buffer,
                                          std::uint32_t count, std::uint32_t* moved);

    std::shared_ptr<Transfer> newTransfer(const std::shared_ptr<Connection>& connection,
                                          const std::string& path, bool rawPath);
    // Adds the transfer to its connection and runs it until ready() holds or it ends.
    // Returns false when the transfer's handle was closed meanwhile.
    bool drive(Transfer& transfer, Phase phase, bool (*ready)(const Transfer&));
    void performOnce(Transfer& transfer);
    bool finishFailure(Transfer& transfer);
    // Runs a login on the connection, to its end; null, with the error set, when it could not
    // start or was cancelled.
    std::shared_ptr<Transfer> logIn(const std::shared_ptr<Connection>& connection);
    // Logs in asking for TLS as the settings say. With auto, a server that has spoken TLS before
    // is held to it, and one that speaks it now is remembered and logged in again demanding it
    // on the data connections as well.
    std::shared_ptr<Transfer> logInAsSettingsSay(const std::shared_ptr<Connection>& connection);

    EventLoop& loop_;
    InternetSettings settings_;
    std::map<InternetHandle, std::shared_ptr<Object>> handles_;
    InternetHandle nextHandle_ = 1;
    int depth_ = 0;
    std::vector<std::shared_ptr<Object>> retired_;
    SupportTrace* trace_ = nullptr;
};

}  // namespace k9
