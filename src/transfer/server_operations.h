#pragma once

#include <cstdint>

namespace k9 {

struct MainContext;
class BusyIndicators;

// The main window's side of the server: connect, download, upload and disconnect through the
// run's FTP client, turning its failures into the user's messages, and showing its progress.
class ServerOperations final {
public:
    ServerOperations(MainContext& context, BusyIndicators& busy) : c_(context), busy_(busy) {}

    bool ConnectToServer();
    bool DownloadUpdateFile();
    // True when the file reached the server; a failure has been reported to the user.
    bool UploadLocationsFile();
    void DisconnectFromServer();
    void mFTP_FileTransferProgress(std::int32_t lCurrentBytes, std::int32_t lTotalBytes,
                                   bool blnDownload);

private:
    // A failure after the user stopped the run is the user's doing: nothing to report.
    bool stoppedDuring() const;

    MainContext& c_;
    BusyIndicators& busy_;
};

}  // namespace k9
