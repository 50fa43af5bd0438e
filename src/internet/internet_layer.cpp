#include "internet/internet_layer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/host_port.h"
#include "diagnostics/support_trace.h"
#include "internet/curl_check.h"
#include "internet/curl_driver.h"
#include "internet/internet_handles.h"
#include "internet/tls_memory.h"
#include "internet/tls_session.h"

namespace k9 {
using namespace curl_driver;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool InternetLayer::finishFailure(Transfer& t) {
    if (t.stalled) {
        return fail(inet::kTimeout);
    }
    if (t.fileErrno != 0) {
        return fail(osErrorMeaning(t.fileErrno, t.mode == Transfer::Mode::GetFile).systemCode);
    }
    const std::uint32_t code = internetCodeForCurl(
        t.result, t.osErrno, static_cast<int>(t.lastReply.replyCode), tls_session::verifyResult(t));
    if (code == inet::kExtendedError) {
        setInternetLastResponse(t.lastReply);
    }
    return fail(code);
}

std::uint32_t InternetLayer::attemptConnect(std::uint32_t) {
    return inet::kSuccess;
}

bool InternetLayer::autodial(std::uint32_t, std::uintptr_t) {
    return true;
}

InternetHandle InternetLayer::open(const std::string& agent, std::uint32_t, std::uint32_t) {
    CallScope scope(*this);
    auto session = std::make_shared<Session>();
    session->agent = agent;
    return addHandle(session);
}

InternetHandle InternetLayer::connect(InternetHandle sessionHandle, const std::string& server,
                                      std::uint16_t port, const std::string& user,
                                      const std::string& password, std::uint32_t service,
                                      std::uint32_t flags) {
    CallScope scope(*this);
    setInternetLastCause({});
    auto session = lookup<Session>(sessionHandle);
    if (!session) {
        return 0;
    }
    if (service != inet::kServiceFtp) {
        fail(inet::kInvalidParameter);
        return 0;
    }
    auto connection = std::make_shared<Connection>();
    if (connection->multi == nullptr) {
        fail(inet::kInternalError);
        return 0;
    }
    // Checked here, so that libcurl is only ever given an address it takes.
    std::string why;
    const std::optional<HostPort> address = parseHostPort(server, &why);
    if (!address) {
        fail(server.empty() ? inet::kNameNotResolved : inet::kInvalidUrl);
        return 0;
    }
    connection->host = address->host;
    connection->port = address->port != 0 ? address->port : 21;
    if (port != inet::kDefaultPort) {
        connection->port = port;
    }
    connection->user = user;
    connection->password = password;
    connection->passive = (flags & inet::kFlagPassive) != 0;
    connection->share = curl_share_init();
    if (connection->share == nullptr) {
        fail(inet::kInternalError);
        return 0;
    }
    checkCurl(curl_share_setopt(connection->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION),
              "curl_share_setopt CURLSHOPT_SHARE");
    // Registered before the wait, so that closing the session cancels the login.
    session->children.push_back(connection);

    const auto login = logInAsSettingsSay(connection);
    if (!login) {
        return 0;
    }
    if (failedOrStalled(*login)) {
        setInternetLastCause(login->stalled ? std::string() : tls_session::failureCause(*login));
        finishFailure(*login);
        return 0;
    }
    connection->session = login->tls;
    if (trace_ != nullptr) {
        const FtpSessionInfo& info = connection->session;
        std::string how = " in clear (the server does not offer TLS)";
        if (info.encrypted) {
            how = " encrypted on the control and data connections: " + info.tlsVersion + ", " +
                  info.cipher;
        } else if (settings_.tls == FtpTls::Off) {
            how = " in clear (ftp_tls = off)";
        }
        trace_->line("ftp", "session with " + info.server + how);
    }
    setInternetLastError(inet::kSuccess);
    return addHandle(connection);
}

std::shared_ptr<Transfer> InternetLayer::logInAsSettingsSay(
    const std::shared_ptr<Connection>& connection) {
    const FtpTls tls = settings_.tls;
    TlsMemory memory(tls == FtpTls::Auto ? settings_.tlsHostsFile : std::string(), trace_);
    connection->remembered =
        tls == FtpTls::Auto && memory.holds(connection->host, connection->port);
    connection->useSsl = tls == FtpTls::Off                                 ? CURLUSESSL_NONE
                         : tls == FtpTls::Require || connection->remembered ? CURLUSESSL_ALL
                                                                            : CURLUSESSL_TRY;
    auto login = logIn(connection);
    if (!login || connection->useSsl != CURLUSESSL_TRY || !login->tlsOffered) {
        return login;
    }
    // The server speaks TLS: it is held to it from now on, whatever became of this login.
    memory.remember(connection->host, connection->port);
    if (failedOrStalled(*login)) {
        return login;
    }
    // Logged in again demanding TLS on the data connections too, so that no file crosses in
    // clear.
    connection->spokeTls = true;
    connection->useSsl = CURLUSESSL_ALL;
    return logIn(connection);
}

std::shared_ptr<Transfer> InternetLayer::logIn(const std::shared_ptr<Connection>& connection) {
    auto login = newTransfer(connection, "/", false);
    if (!login) {
        return nullptr;
    }
    login->mode = Transfer::Mode::Login;
    login->tls.server = connection->host + ":" + std::to_string(connection->port);
    setOption(login->easy, CURLOPT_NOBODY, 1L);
    if (!drive(*login, Phase::Connect, never)) {
        fail(inet::kOperationCancelled);
        return nullptr;
    }
    return login;
}

bool InternetLayer::sessionInfo(InternetHandle connectionHandle, FtpSessionInfo* info) {
    CallScope scope(*this);
    auto connection = lookup<Connection>(connectionHandle);
    if (!connection || info == nullptr) {
        return connection ? fail(inet::kInvalidParameter) : false;
    }
    *info = connection->session;
    return true;
}

InternetHandle InternetLayer::ftpOpenFile(InternetHandle connectionHandle,
                                          const std::string& fileName, std::uint32_t access,
                                          std::uint32_t flags) {
    CallScope scope(*this);
    auto connection = lookup<Connection>(connectionHandle);
    if (!connection) {
        return 0;
    }
    const bool reading = (access & inet::kGenericRead) != 0;
    const bool writing = (access & inet::kGenericWrite) != 0;
    if (reading == writing || fileName.empty()) {
        fail(inet::kInvalidParameter);
        return 0;
    }
    if (auto busy = connection->busy.lock(); busy && !busy->closed) {
        fail(inet::kFtpTransferInProgress);
        return 0;
    }
    auto t = newTransfer(connection, "/" + fileName, false);
    if (!t || !setTransferType(*t, flags)) {
        return 0;
    }
    t->mode = writing ? Transfer::Mode::Write : Transfer::Mode::Read;
    if (writing) {
        setOption(t->easy, CURLOPT_UPLOAD, 1L);
    }
    connection->busy = t;
    connection->children.push_back(t);
    if (!drive(*t, Phase::Transfer, writing ? openedForWrite : openedForRead)) {
        retire(t);
        fail(inet::kOperationCancelled);
        return 0;
    }
    // Once the server has begun the transfer, the file is open even when the failure came in
    // the same wait: it belongs to the reads or writes that meet it, however late we woke.
    const bool begun = writing ? openedForWrite(*t) : openedForRead(*t);
    if (t->done && failedOrStalled(*t) && !begun) {
        retire(t);
        finishFailure(*t);
        return 0;
    }
    setInternetLastError(inet::kSuccess);
    return addHandle(t);
}

std::shared_ptr<Transfer> InternetLayer::transferFor(InternetHandle file, bool writing,
                                                     const void* buffer, std::uint32_t count,
                                                     std::uint32_t* moved) {
    if (moved != nullptr) {
        *moved = 0;
    }
    auto t = lookup<Transfer>(file);
    if (!t) {
        return nullptr;
    }
    if (t->mode != (writing ? Transfer::Mode::Write : Transfer::Mode::Read)) {
        fail(inet::kIncorrectHandleType);
        return nullptr;
    }
    if (moved == nullptr || (buffer == nullptr && count != 0)) {
        fail(inet::kInvalidParameter);
        return nullptr;
    }
    return t;
}

bool InternetLayer::readFile(InternetHandle file, void* buffer, std::uint32_t toRead,
                             std::uint32_t* bytesRead) {
    CallScope scope(*this);
    auto t = transferFor(file, false, buffer, toRead, bytesRead);
    if (!t) {
        return false;
    }
    if (toRead == 0) {
        return true;
    }
    if (t->held() == 0 && !t->done) {
        resume(*t);
        if (t->held() == 0 && !t->done && !drive(*t, Phase::Transfer, hasInput)) {
            return fail(inet::kOperationCancelled);
        }
    }
    if (t->held() > 0) {
        const std::size_t n = std::min<std::size_t>(toRead, t->held());
        std::memcpy(buffer, t->in.data() + t->inHead, n);
        t->inHead += n;
        if (t->inHead == t->in.size()) {
            t->in.clear();
            t->inHead = 0;
        }
        *bytesRead = static_cast<std::uint32_t>(n);
        return true;
    }
    if (failedOrStalled(*t)) {
        return finishFailure(*t);
    }
    return true;  // the server ended the data and confirmed the transfer
}

bool InternetLayer::writeFile(InternetHandle file, const void* buffer, std::uint32_t toWrite,
                              std::uint32_t* bytesWritten) {
    CallScope scope(*this);
    auto t = transferFor(file, true, buffer, toWrite, bytesWritten);
    if (!t) {
        return false;
    }
    if (t->done) {
        return failedOrStalled(*t) ? finishFailure(*t) : fail(inet::kConnectionAborted);
    }
    if (t->pending() > 0 && t->pending() + toWrite > settings_.streamBufferBytes) {
        resume(*t);
        if (!drive(*t, Phase::Transfer, drained)) {
            return fail(inet::kOperationCancelled);
        }
        if (t->done) {
            return failedOrStalled(*t) ? finishFailure(*t) : fail(inet::kConnectionAborted);
        }
    }
    const auto* bytes = static_cast<const char*>(buffer);
    t->out.insert(t->out.end(), bytes, bytes + toWrite);
    *bytesWritten = toWrite;
    return true;
}

std::shared_ptr<Connection> InternetLayer::idleConnectionFor(InternetHandle connectionHandle,
                                                             const std::string& localFile,
                                                             const std::string& remoteFile) {
    auto connection = lookup<Connection>(connectionHandle);
    if (!connection) {
        return nullptr;
    }
    if (remoteFile.empty() || localFile.empty()) {
        fail(inet::kInvalidParameter);
        return nullptr;
    }
    if (auto busy = connection->busy.lock(); busy && !busy->closed) {
        fail(inet::kFtpTransferInProgress);
        return nullptr;
    }
    return connection;
}

std::shared_ptr<Transfer> InternetLayer::runWholeFile(const std::shared_ptr<Connection>& connection,
                                                      const std::string& remoteFile,
                                                      std::uint32_t flags, std::FILE* file,
                                                      bool upload, bool& alive) {
    auto t = newTransfer(connection, "/" + remoteFile, false);
    if (!t || !setTransferType(*t, flags)) {
        return nullptr;
    }
    t->mode = upload ? Transfer::Mode::PutFile : Transfer::Mode::GetFile;
    t->file = file;
    if (upload) {
        setOption(t->easy, CURLOPT_UPLOAD, 1L);
    }
    connection->busy = t;
    connection->children.push_back(t);
    alive = drive(*t, Phase::Transfer, never);
    retire(t);
    return t;
}

bool InternetLayer::ftpPutFile(InternetHandle connectionHandle, const std::string& localFile,
                               const std::string& remoteFile, std::uint32_t flags) {
    CallScope scope(*this);
    auto connection = idleConnectionFor(connectionHandle, localFile, remoteFile);
    if (!connection) {
        return false;
    }
    FilePtr source(std::fopen(localFile.c_str(), "rb"));
    if (!source) {
        return fail(osErrorMeaning(errno, false).systemCode);
    }
    bool alive = false;
    auto t = runWholeFile(connection, remoteFile, flags, source.get(), true, alive);
    if (!t) {
        return false;
    }
    if (!alive) {
        return fail(inet::kOperationCancelled);
    }
    if (failedOrStalled(*t)) {
        return finishFailure(*t);
    }
    setInternetLastError(inet::kSuccess);
    return true;
}

bool InternetLayer::ftpGetFile(InternetHandle connectionHandle, const std::string& remoteFile,
                               const std::string& localFile, bool failIfExists, std::uint32_t,
                               std::uint32_t flags) {
    CallScope scope(*this);
    auto connection = idleConnectionFor(connectionHandle, localFile, remoteFile);
    if (!connection) {
        return false;
    }
    if (failIfExists) {
        if (FilePtr existing(std::fopen(localFile.c_str(), "rb")); existing) {
            return fail(inet::kFileExists);
        }
    }
    FilePtr sink(std::fopen(localFile.c_str(), "wb"));
    if (!sink) {
        return fail(osErrorMeaning(errno, true).systemCode);
    }
    bool alive = false;
    auto t = runWholeFile(connection, remoteFile, flags, sink.get(), false, alive);
    if (!t) {
        return false;
    }
    bool ok = alive && !failedOrStalled(*t);
    if (ok && std::fclose(sink.release()) != 0) {
        t->fileErrno = errno != 0 ? errno : EIO;
        ok = false;
    }
    if (!ok) {
        sink.reset();
        std::remove(localFile.c_str());
        return alive ? finishFailure(*t) : fail(inet::kOperationCancelled);
    }
    setInternetLastError(inet::kSuccess);
    return true;
}

InternetHandle InternetLayer::ftpFindFirstFile(InternetHandle connectionHandle,
                                               const std::string& pattern, FtpFindData* findData,
                                               std::uint32_t) {
    CallScope scope(*this);
    auto connection = lookup<Connection>(connectionHandle);
    if (!connection) {
        return 0;
    }
    if (findData == nullptr) {
        fail(inet::kInvalidParameter);
        return 0;
    }
    if (auto busy = connection->busy.lock(); busy && !busy->closed) {
        fail(inet::kFtpTransferInProgress);
        return 0;
    }
    // libcurl takes the wildcard from the raw path, so the pattern goes in unencoded.
    auto t = newTransfer(connection, "/" + (pattern.empty() ? std::string("*") : pattern), true);
    if (!t) {
        return 0;
    }
    t->mode = Transfer::Mode::Find;
    setOption(t->easy, CURLOPT_WILDCARDMATCH, 1L);
    setOption(t->easy, CURLOPT_CHUNK_BGN_FUNCTION, onChunkBegin);
    setOption(t->easy, CURLOPT_CHUNK_DATA, t.get());
    connection->busy = t;
    connection->children.push_back(t);
    const bool alive = drive(*t, Phase::Transfer, never);
    retire(t);
    if (!alive) {
        fail(inet::kOperationCancelled);
        return 0;
    }
    if (t->found && !t->stalled) {
        auto find = std::make_shared<Find>();
        find->data = t->first;
        *findData = t->first;
        connection->children.push_back(find);
        setInternetLastError(inet::kSuccess);
        return addHandle(find);
    }
    const auto reply = t->lastReply.replyCode;
    if (!t->stalled && (t->result == CURLE_OK || t->result == CURLE_REMOTE_FILE_NOT_FOUND) &&
        (reply < 400 || reply == 450)) {
        fail(inet::kNoMoreFiles);
        return 0;
    }
    finishFailure(*t);
    return 0;
}

bool InternetLayer::closeHandle(InternetHandle handle) {
    CallScope scope(*this);
    const auto it = handles_.find(handle);
    if (it == handles_.end()) {
        return fail(inet::kInvalidHandle);
    }
    const std::shared_ptr<Object> object = it->second;
    // Closed however this call ends, even by an error a handler raised during the wait.
    struct Retire {
        InternetLayer& layer;
        const std::shared_ptr<Object>& object;
        ~Retire() {
            if (!object->closed) {
                layer.retire(object);
            }
        }
    } retireOnExit{*this, object};
    bool ok = true;
    const auto t = std::dynamic_pointer_cast<Transfer>(object);
    if (t && t->mode == Transfer::Mode::Read && t->done && failedOrStalled(*t)) {
        // The server's verdict on a download it ended, whether or not a read met it.
        ok = finishFailure(*t);
    } else if (t && t->mode == Transfer::Mode::Write && !t->closed) {
        if (t->done) {
            ok = failedOrStalled(*t) ? finishFailure(*t) : true;
        } else {
            // The end of the data: the server now stores the file and gives its verdict.
            t->outEnd = true;
            resume(*t);
            if (!drive(*t, Phase::Transfer, never)) {
                ok = fail(inet::kOperationCancelled);
            } else if (failedOrStalled(*t)) {
                ok = finishFailure(*t);
            }
        }
    }
    if (ok) {
        setInternetLastError(inet::kSuccess);
    }
    return ok;
}

}  // namespace k9
