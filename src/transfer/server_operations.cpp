#include "transfer/server_operations.h"

#include <cctype>
#include <cmath>

#include "config/program_vars.h"
#include "platform/busy_pointer.h"
#include "platform/file_table.h"
#include "platform/main_view.h"
#include "platform/texts.h"
#include "transfer/cftp.h"

namespace k9 {

std::string storeWhole(cFTP& ftp, const std::string& local, const std::string& remote) {
    if (!ftp.FTPUploadFile(local, remote)) {
        return "the server did not take the file";
    }
    const std::int32_t listed = ftp.GetFTPFileSize(remote);
    if (listed == -2) {
        return {};  // no listing to check against; the server's verdict on the store stands
    }
    const std::string bytes = readWholeFile(local);
    const auto size = static_cast<std::int64_t>(bytes.size());
    std::int64_t crLfs = 0;
    for (auto p = bytes.find("\r\n"); p != std::string::npos; p = bytes.find("\r\n", p + 2)) {
        ++crLfs;
    }
    if (listed != size && listed != size - crLfs) {
        return "the server did not get all of it";
    }
    return {};
}

std::string unreachableWhy(const cFTP& ftp) {
    std::string cause = ftp.failureCause();
    if (cause.empty()) {
        return "the server could not be reached";
    }
    // A sentence of its own in a box, here part of one.
    cause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(cause[0])));
    if (cause.back() == '.') {
        cause.pop_back();
    }
    return "the server could not be reached: " + cause;
}

bool ServerOperations::stoppedDuring() const {
    return c_.blnStopped || !c_.session.mFTP;
}

bool ServerOperations::ConnectToServer() {
    BusyPointerScope busy(c_.busy);
    const std::shared_ptr<cFTP> ftp = c_.session.mFTP;
    if (!ftp) {
        return false;
    }
    if (ftp->OpenConnection(c_.ftpHost, c_.session.sSerialNumber, c_.session.sFtpPassword)) {
        return true;
    }
    if (stoppedDuring()) {
        return false;
    }
    const std::string detail = ftp->GetLastErrorMessage();
    const std::string cause = ftp->failureCause();
    lastFailure_ =
        cause.empty() ? "the server could not be reached: " + detail : unreachableWhy(*ftp);
    c_.view.showMessage(Message{std::string("An error has occurred whilst trying to connect to ") +
                                    "the server. " + kCrLf + "You may have a firewall enabled on " +
                                    "your computer or on your network. Please check " +
                                    "your firewall settings or contact your network " +
                                    "administrator. " + kCrLf +
                                    "Windows XP comes with a built-in " +
                                    "firewall as standard. The software downloads the " +
                                    "database using File Transfer Protocol (FTP). " +
                                    "You need to configure your firewall or network " +
                                    "to allow the software to download the database. ",
                                "Quillmark", MessageIcon::Exclamation});
    // The designed text, and on a line of its own what it cannot tell.
    const std::string lineEnd = cause.empty() || detail.ends_with(kCrLf) ? "" : kCrLf;
    c_.view.showMessage(Message{"ftp open function: " + detail + lineEnd + cause});
    return false;
}

bool ServerOperations::DownloadUpdateFile() {
    BusyPointerScope busy(c_.busy);
    const std::shared_ptr<cFTP> ftp = c_.session.mFTP;
    if (!ftp) {
        return false;
    }
    if (ftp->FTPDownloadFile(c_.vars.sTempFolder + c_.session.sTempFile, c_.session.sRemoteFile)) {
        return true;
    }
    if (stoppedDuring()) {
        return false;
    }
    lastFailure_ = "the download failed: " + ftp->GetLastErrorMessage();
    c_.view.showMessage(
        Message{"An Error has occured while trying to download data from the Quillmark Server.",
                "Quillmark", MessageIcon::Critical});
    c_.view.showMessage(Message{"ftp download  " + ftp->GetLastErrorMessage()});
    return false;
}

bool ServerOperations::UploadLocationsFile() {
    BusyPointerScope busy(c_.busy);
    const std::shared_ptr<cFTP> ftp = c_.session.mFTP;
    if (!ftp) {
        return false;
    }
    if (storeWhole(*ftp, c_.vars.sTempFolder + c_.session.sLocationsFile, c_.session.sLocationsFile)
            .empty()) {
        return true;
    }
    if (stoppedDuring()) {
        return false;
    }
    c_.view.showMessage(Message{
        std::string("An Error has occured while trying to upload data to the Quillmark Server. ") +
            "Your Device has been updated but any locations that you have stored have not been "
            "sent to the " +
            "Quillmark Server this time.",
        "Quillmark", MessageIcon::Exclamation});
    return false;
}

std::string ServerOperations::uploadKeptQuietly() {
    BusyPointerScope busy(c_.busy);
    const std::shared_ptr<cFTP> ftp = c_.session.mFTP;
    if (!ftp) {
        return "the run was stopped";
    }
    if (!ftp->OpenConnection(c_.ftpHost, c_.session.sSerialNumber, c_.session.sFtpPassword)) {
        return stoppedDuring() ? "the run was stopped" : unreachableWhy(*ftp);
    }
    const std::string why = storeWhole(*ftp, c_.vars.sTempFolder + c_.session.sLocationsFile,
                                       c_.session.sLocationsFile);
    return stoppedDuring() ? "the run was stopped" : why;
}

void ServerOperations::releaseFtpClient() {
    if (auto ftp = std::move(c_.session.mFTP)) {
        try {
            ftp->CloseConnection();
        } catch (const std::exception&) {
            // Closing the connection of a stopped run cannot be reported to anyone.
        }
    }
}

void ServerOperations::DisconnectFromServer() {
    if (const std::shared_ptr<cFTP> ftp = c_.session.mFTP) {
        ftp->CloseConnection();
    }
}

void ServerOperations::mFTP_FileTransferProgress(std::int32_t lCurrentBytes,
                                                 std::int32_t lTotalBytes, bool blnDownload) {
    // An empty upload reports a total of 0: show it as complete rather than divide by it.
    const float ratio = lTotalBytes == 0
                            ? 1.0f
                            : static_cast<float>(lCurrentBytes) / static_cast<float>(lTotalBytes);
    const float hundredths = ratio * 100.0f;
    // Halves go to the even neighbour.
    const auto percent = static_cast<long>(std::nearbyint(hundredths));
    if (blnDownload) {
        c_.view.setProgress(static_cast<int>(std::floor(ratio * 15.0f)) + 10);
        c_.view.setStatusText("Downloading Data... " + std::to_string(percent) + " % " + kCrLf +
                              "Sending Data to " + c_.vars.sDeviceModel);
    } else {
        c_.view.setProgress(static_cast<int>(std::floor(ratio * 5.0f)) + 95);
        c_.view.setStatusText("Sending New Locations to Server..." + std::to_string(percent) +
                              " % ");
    }
}

}  // namespace k9
