#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace k9 {

class BusyPointer;
class MainView;
class cFTP;
struct ProgramVars;

// The part of the update state that the server operations read: the run's client, the login
// and the file names.
struct ServerSession {
    std::string sRemoteFile;
    std::string sTempFile;
    std::string sSerialNumber;
    std::string sFtpPassword;
    std::string sLocationsFile;
    // Held by shared_ptr so a frame using it keeps it alive when Close releases it.
    std::shared_ptr<cFTP> mFTP;
};

struct ServerContext {
    MainView& view;
    BusyPointer& busy;
    const ProgramVars& vars;
    ServerSession& session;
    const bool& blnStopped;
    std::string ftpHost;
};

// The main window's side of the server: connect, download, upload and disconnect through the
// run's FTP client, turning its failures into the user's messages, and showing its progress.
// Stores the local file under the remote name and checks that the server has all of it: where
// the server lists a size, it is the file's own, or that with LF line ends (a Unix server
// storing an ASCII transfer). Empty when it does, else why not, in a few words.
std::string storeWhole(cFTP& ftp, const std::string& local, const std::string& remote);

// Why a login failed, in a few words, for a text that goes on: "the server could not be
// reached", and the client's failure cause when it has one.
std::string unreachableWhy(const cFTP& ftp);

class ServerOperations final {
  public:
    explicit ServerOperations(ServerContext context) : c_(std::move(context)) {}

    bool ConnectToServer();
    bool DownloadUpdateFile();
    // True when the file reached the server whole; a failure has been reported to the user.
    bool UploadLocationsFile();
    // Uploads the locations file over a fresh login, without a message box: empty when the
    // server has it whole, else why not, in a few words.
    std::string uploadKeptQuietly();
    void DisconnectFromServer();
    void mFTP_FileTransferProgress(std::int32_t lCurrentBytes, std::int32_t lTotalBytes,
                                   bool blnDownload);
    // Closes the run's connection, ignoring failures, and lets the client go.
    void releaseFtpClient();
    // Why the last connection or download failed, as the client told it.
    const std::string& lastFailure() const { return lastFailure_; }

  private:
    // A failure after the user stopped the run is the user's doing: nothing to report.
    bool stoppedDuring() const;

    ServerContext c_;
    std::string lastFailure_;
};

}  // namespace k9
