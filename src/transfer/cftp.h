#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "internet/internet_layer.h"

namespace k9 {

class EventLoop;
class SupportTrace;

// The FTP client: one session and one connection, single-file transfers in 255-byte chunks
// with a progress event per chunk, and the text of its last failure. It never talks to the
// user. A handler that runs while a call yields may close or release the client; the call
// keeps what it uses alive and returns normally.
class cFTP final {
  public:
    using ProgressListener =
        std::function<void(std::int32_t lCurrentBytes, std::int32_t lTotalBytes, bool blnDownload)>;
    using SessionListener = std::function<void(const FtpSessionInfo&)>;

    explicit cFTP(EventLoop& loop, InternetSettings settings = {});
    ~cFTP();
    cFTP(const cFTP&) = delete;
    cFTP& operator=(const cFTP&) = delete;

    std::string GetLastErrorMessage() const;
    bool OpenConnection(const std::string& sServer, const std::string& sUser,
                        const std::string& sPassword);
    void CloseConnection();
    bool SimpleFTPPutFile(const std::string& sLocal, const std::string& sRemote);
    bool FTPUploadFile(const std::string& sLocal, const std::string& sRemote);
    bool FTPDownloadFile(const std::string& sLocal, const std::string& sRemote);
    bool SimpleFTPGetFile(const std::string& sLocal, const std::string& sRemote);
    std::int32_t GetFTPFileSize(const std::string& sFile);
    // The file's modification time from the server's MDTM, in seconds since the epoch; 0 when
    // the server has no MDTM, -1 on failure (with its text left as for the other calls).
    std::int64_t remoteFileTime(const std::string& sFile);
    void SetModeActive();
    void SetModePassive();
    // The FileTransferProgress event, delivered synchronously on the same thread.
    void setFileTransferProgress(ProgressListener listener);
    // Told once a connection is logged in what the session turned out to be (encrypted or
    // not, TLS version, cipher); synchronously, on the same thread.
    void setSessionListener(SessionListener listener);
    // Why the last OpenConnection failed, in one line of plain words, where the designed error
    // text does not say it (TLS refused or required, a certificate that does not verify);
    // empty otherwise.
    std::string failureCause() const;
    // Where the session's commands, replies and timings go; null for none.
    void setTrace(SupportTrace* trace);

  private:
    struct Impl;
    // Shared with the calls in progress, which outlive a release of the client.
    std::shared_ptr<Impl> impl_;
};

}  // namespace k9
