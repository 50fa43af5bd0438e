#include "platform/internet_layer.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

#include "platform/event_loop.h"

namespace k9 {
namespace {

using Clock = std::chrono::steady_clock;

void ensureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// "host", "host:port", "[v6]" or "[v6]:port"; a bare IPv6 address has no port.
bool splitServer(const std::string& server, std::string* host, long* port) {
    *port = 21;
    std::string rest;
    if (!server.empty() && server.front() == '[') {
        const auto close = server.find(']');
        if (close == std::string::npos) {
            return false;
        }
        *host = server.substr(0, close + 1);
        rest = server.substr(close + 1);
    } else if (std::count(server.begin(), server.end(), ':') == 1) {
        const auto colon = server.find(':');
        *host = server.substr(0, colon);
        rest = server.substr(colon);
    } else if (server.find(':') != std::string::npos) {
        *host = "[" + server + "]";
    } else {
        *host = server;
    }
    if (!rest.empty()) {
        if (rest.size() < 2 || rest.front() != ':') {
            return false;
        }
        long value = 0;
        for (char c : rest.substr(1)) {
            if (!std::isdigit(static_cast<unsigned char>(c)) || value > 65535) {
                return false;
            }
            value = value * 10 + (c - '0');
        }
        if (value <= 0 || value > 65535) {
            return false;
        }
        *port = value;
    }
    return !host->empty() && *host != "[]";
}

// A line that ends an FTP reply: three digits, then a blank or the line end.
int finalReplyCode(std::string_view line) {
    if (line.size() < 3 || !std::isdigit(static_cast<unsigned char>(line[0])) ||
        !std::isdigit(static_cast<unsigned char>(line[1])) ||
        !std::isdigit(static_cast<unsigned char>(line[2]))) {
        return 0;
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '\r' && line[3] != '\n') {
        return 0;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

}  // namespace

struct InternetLayer::Object {
    enum class Kind { Session, Connection, File, Find };
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    const Kind kind;
    InternetHandle handle = 0;
    bool closed = false;
    std::vector<std::weak_ptr<Object>> children;
};

struct InternetLayer::Session final : Object {
    Session() : Object(Kind::Session) {}
    std::string agent;
};

// One login on one server. Its multi handle keeps the logged-in control connection between
// transfers.
struct InternetLayer::Connection final : Object {
    Connection() : Object(Kind::Connection), multi(curl_multi_init()) {}
    ~Connection() override {
        // Clean-up says QUIT on every cached connection and then waits for the answer; with
        // the receiving side shut the goodbye still goes out but nobody waits on the server.
        for (curl_socket_t s : sockets) {
            ::shutdown(s, SHUT_RD);
        }
        curl_multi_cleanup(multi);
    }

    CURLM* const multi;
    std::string host;
    long port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    std::set<curl_socket_t> sockets;
    std::weak_ptr<Transfer> busy;
};

// One libcurl transfer on a connection: the login, a listing, a streamed or whole-file
// transfer.
struct InternetLayer::Transfer final : Object {
    enum class Mode { Login, Find, Read, Write, GetFile, PutFile };

    Transfer(std::shared_ptr<Connection> c, EventLoop& l, const InternetSettings& s)
        : Object(Kind::File), connection(std::move(c)), loop(l), settings(s) {}
    ~Transfer() override {
        if (easy != nullptr) {
            curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 1L);
            if (added) {
                curl_multi_remove_handle(connection->multi, easy);
            }
            curl_easy_cleanup(easy);
        }
        curl_url_cleanup(url);
        curl_slist_free_all(prequote);
    }

    bool expired(Clock::time_point now) const {
        return connectPhase ? now >= deadline : now - lastActivity >= settings.stallTimeout;
    }
    std::size_t held() const { return in.size() - inHead; }
    std::size_t pending() const { return out.size() - outHead; }

    const std::shared_ptr<Connection> connection;
    EventLoop& loop;
    const InternetSettings& settings;
    Mode mode = Mode::Login;
    CURL* easy = nullptr;
    CURLU* url = nullptr;
    curl_slist* prequote = nullptr;
    bool added = false;

    bool done = false;
    CURLcode result = CURLE_OK;
    long osErrno = 0;
    bool stalled = false;

    std::string replyLines;
    InternetResponse lastReply;
    bool preliminary = false;  // the server said 1xx: the transfer has started

    bool connectPhase = false;
    Clock::time_point deadline;
    Clock::time_point lastActivity;
    curl_off_t seenDown = 0;
    curl_off_t seenUp = 0;
    bool inCurl = false;
    Clock::time_point curlEntered;
    std::exception_ptr handlerError;

    std::vector<char> in;
    std::size_t inHead = 0;
    bool recvPaused = false;
    std::vector<char> out;
    std::size_t outHead = 0;
    bool sendPaused = false;
    bool outEnd = false;

    std::FILE* file = nullptr;  // whole-file transfers; owned by the call
    int fileErrno = 0;

    bool found = false;
    FtpFindData first;
};

struct InternetLayer::Find final : Object {
    Find() : Object(Kind::Find) {}
    FtpFindData data;
};

namespace {

using Transfer = InternetLayer::Transfer;
using Connection = InternetLayer::Connection;

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    t.lastActivity = Clock::now();
    std::string_view line(data, length);
    t.replyLines.append(line);
    if (line.empty() || line.back() != '\n') {
        t.replyLines.append("\r\n");
    } else if (line.size() < 2 || line[line.size() - 2] != '\r') {
        t.replyLines.insert(t.replyLines.size() - 1, "\r");
    }
    if (const int code = finalReplyCode(line); code != 0) {
        t.lastReply = InternetResponse{static_cast<std::uint32_t>(code), std::move(t.replyLines)};
        t.replyLines.clear();
        if (code < 200) {
            t.preliminary = true;
        }
        setInternetLastResponse(t.lastReply);
    }
    return length;
}

size_t onReceive(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t length = size * count;
    t.lastActivity = Clock::now();
    if (t.mode == Transfer::Mode::GetFile) {
        if (length != 0 && std::fwrite(data, 1, length, t.file) != length) {
            t.fileErrno = errno != 0 ? errno : EIO;
            return 0;
        }
        return length;
    }
    if (t.mode != Transfer::Mode::Read) {
        return length;
    }
    // Hold at most one buffer's worth; beyond that the server waits until the reader
    // catches up.
    if (t.held() > 0 && t.held() + length > t.settings.streamBufferBytes) {
        t.recvPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (t.inHead > 0) {
        t.in.erase(t.in.begin(), t.in.begin() + static_cast<std::ptrdiff_t>(t.inHead));
        t.inHead = 0;
    }
    t.in.insert(t.in.end(), data, data + length);
    return length;
}

size_t onSend(char* buffer, size_t size, size_t count, void* user) {
    auto& t = *static_cast<Transfer*>(user);
    const size_t room = size * count;
    if (t.mode == Transfer::Mode::PutFile) {
        const size_t got = std::fread(buffer, 1, room, t.file);
        if (got == 0 && std::ferror(t.file)) {
            t.fileErrno = errno != 0 ? errno : EIO;
            return CURL_READFUNC_ABORT;
        }
        t.lastActivity = Clock::now();
        return got;
    }
    if (t.pending() == 0) {
        if (t.outEnd) {
            return 0;
        }
        t.sendPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    const size_t n = std::min(room, t.pending());
    std::memcpy(buffer, t.out.data() + t.outHead, n);
    t.outHead += n;
    if (t.outHead == t.out.size()) {
        t.out.clear();
        t.outHead = 0;
    }
    t.lastActivity = Clock::now();
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto& t = *static_cast<Transfer*>(user);
    const auto now = Clock::now();
    if (dlnow != t.seenDown || ulnow != t.seenUp) {
        t.seenDown = dlnow;
        t.seenUp = ulnow;
        t.lastActivity = now;
    }
    if (t.inCurl && now - t.curlEntered >= t.settings.waitSlice) {
        // libcurl waits inside this one call (for a final reply, say): keep the loop turning.
        // Whatever a handler closes meanwhile stays allocated until the layer call returns.
        t.curlEntered = now;
        try {
            t.loop.yield();
        } catch (...) {
            // Not through libcurl's frames: the layer call rethrows it once libcurl returns.
            t.handlerError = std::current_exception();
            return 1;
        }
    }
    if (t.closed || t.connection->closed) {
        return 1;
    }
    if (t.expired(Clock::now())) {
        t.stalled = true;
        return 1;
    }
    return 0;
}

long onChunkBegin(const void* info, void* user, int) {
    auto& t = *static_cast<Transfer*>(user);
    const auto* entry = static_cast<const curl_fileinfo*>(info);
    if (!t.found) {
        t.found = true;
        t.first.fileName = entry->filename != nullptr ? entry->filename : "";
        const curl_off_t size = (entry->flags & CURLFINFOFLAG_KNOWN_SIZE) != 0 ? entry->size : 0;
        t.first.fileSizeLow = static_cast<std::uint32_t>(size & 0xffffffff);
        t.first.fileSizeHigh = static_cast<std::uint32_t>((size >> 32) & 0xffffffff);
        t.first.directory = entry->filetype == CURLFILETYPE_DIRECTORY;
    }
    return CURL_CHUNK_BGN_FUNC_SKIP;
}

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    const curl_socket_t s =
        ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (s != CURL_SOCKET_BAD) {
        static_cast<Connection*>(user)->sockets.insert(s);
    }
    return s;
}

int onCloseSocket(void* user, curl_socket_t s) {
    static_cast<Connection*>(user)->sockets.erase(s);
    return ::close(s);
}

bool openedForRead(const Transfer& t) {
    return t.preliminary || t.held() > 0;
}
bool openedForWrite(const Transfer& t) {
    return t.preliminary || t.sendPaused;
}
bool hasInput(const Transfer& t) {
    return t.held() > 0;
}
bool drained(const Transfer& t) {
    return t.pending() == 0;
}
bool never(const Transfer&) {
    return false;
}

void resume(Transfer& t) {
    if (t.recvPaused || t.sendPaused) {
        t.recvPaused = false;
        t.sendPaused = false;
        curl_easy_pause(t.easy, CURLPAUSE_CONT);
    }
}

bool failedOrStalled(const Transfer& t) {
    return t.stalled || t.result != CURLE_OK;
}

}  // namespace

// Counts nested calls; handles closed meanwhile are freed when the outermost call returns.
class InternetLayer::CallScope {
  public:
    explicit CallScope(InternetLayer& layer) : layer_(layer) { ++layer_.depth_; }
    ~CallScope() {
        if (--layer_.depth_ == 0 && !layer_.retired_.empty()) {
            std::vector<std::shared_ptr<Object>> dead;
            dead.swap(layer_.retired_);
        }
    }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

  private:
    InternetLayer& layer_;
};

InternetLayer::InternetLayer(EventLoop& loop, InternetSettings settings)
    : loop_(loop), settings_(settings) {
    ensureCurl();
}

InternetLayer::~InternetLayer() {
    // Transfers hold their connection, so each connection goes after its transfers.
    for (auto& [handle, object] : handles_) {
        object->closed = true;
    }
    handles_.clear();
    retired_.clear();
}

bool InternetLayer::fail(std::uint32_t code) {
    setInternetLastError(code);
    return false;
}

template <typename T>
std::shared_ptr<T> InternetLayer::lookup(InternetHandle handle) {
    const auto it = handles_.find(handle);
    if (it == handles_.end() || it->second->closed) {
        fail(inet::kInvalidHandle);
        return nullptr;
    }
    auto typed = std::dynamic_pointer_cast<T>(it->second);
    if (!typed) {
        fail(inet::kIncorrectHandleType);
    }
    return typed;
}

InternetHandle InternetLayer::addHandle(const std::shared_ptr<Object>& object) {
    while (nextHandle_ == 0 || handles_.count(nextHandle_) != 0) {
        ++nextHandle_;
    }
    object->handle = nextHandle_++;
    handles_[object->handle] = object;
    return object->handle;
}

void InternetLayer::retire(const std::shared_ptr<Object>& object) {
    object->closed = true;
    if (object->handle != 0) {
        handles_.erase(object->handle);
    }
    for (const auto& weak : object->children) {
        if (auto child = weak.lock(); child && !child->closed) {
            retire(child);
        }
    }
    object->children.clear();
    retired_.push_back(object);
}

std::shared_ptr<InternetLayer::Transfer> InternetLayer::newTransfer(
    const std::shared_ptr<Connection>& connection, const std::string& path, bool rawPath) {
    auto t = std::make_shared<Transfer>(connection, loop_, settings_);
    t->easy = curl_easy_init();
    t->url = curl_url();
    if (t->easy == nullptr || t->url == nullptr) {
        fail(inet::kInternalError);
        return nullptr;
    }
    const std::string base =
        "ftp://" + connection->host + ":" + std::to_string(connection->port) + "/";
    if (curl_url_set(t->url, CURLUPART_URL, base.c_str(), 0) != CURLUE_OK ||
        curl_url_set(t->url, CURLUPART_PATH, path.c_str(), rawPath ? 0 : CURLU_URLENCODE) !=
            CURLUE_OK) {
        fail(inet::kInvalidUrl);
        return nullptr;
    }
    CURL* e = t->easy;
    curl_easy_setopt(e, CURLOPT_CURLU, t->url);
    curl_easy_setopt(e, CURLOPT_USERNAME, connection->user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, connection->password.c_str());
    curl_easy_setopt(e, CURLOPT_PRIVATE, t.get());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, t.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onReceive);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, t.get());
    curl_easy_setopt(e, CURLOPT_READFUNCTION, onSend);
    curl_easy_setopt(e, CURLOPT_READDATA, t.get());
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, t.get());
    curl_easy_setopt(e, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    curl_easy_setopt(e, CURLOPT_OPENSOCKETDATA, connection.get());
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETFUNCTION, onCloseSocket);
    curl_easy_setopt(e, CURLOPT_CLOSESOCKETDATA, connection.get());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(settings_.connectTimeout.count()));
    curl_easy_setopt(e, CURLOPT_ACCEPTTIMEOUT_MS,
                     static_cast<long>(settings_.connectTimeout.count()));
    // Bounds the waits for a reply that libcurl does inside a single call.
    const long responseSeconds =
        std::max<long>(1, static_cast<long>((settings_.stallTimeout.count() + 999) / 1000));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, responseSeconds);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 64L * 1024L);
    if (!connection->passive) {
        curl_easy_setopt(e, CURLOPT_FTPPORT, "-");
    }
    return t;
}

namespace {

// Bytes move unchanged whatever the type; an ASCII transfer tells the server so right
// before the command, since libcurl's own text mode would rewrite line ends on this side.
bool setTransferType(Transfer& t, std::uint32_t flags) {
    curl_easy_setopt(t.easy, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(t.easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    if ((flags & 3u) != inet::kTransferTypeBinary) {
        t.prequote = curl_slist_append(nullptr, "TYPE A");
        if (t.prequote == nullptr) {
            return false;
        }
        curl_easy_setopt(t.easy, CURLOPT_PREQUOTE, t.prequote);
    }
    return true;
}

}  // namespace

void InternetLayer::performOnce(Transfer& t) {
    Connection& c = *t.connection;
    int running = 0;
    t.inCurl = true;
    t.curlEntered = Clock::now();
    curl_multi_perform(c.multi, &running);
    t.inCurl = false;
    if (t.handlerError) {
        std::rethrow_exception(std::exchange(t.handlerError, nullptr));
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(c.multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        char* owner = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (owner == nullptr) {
            continue;
        }
        auto* done = reinterpret_cast<Transfer*>(owner);
        done->done = true;
        done->result = message->data.result;
        long osErrno = 0;
        curl_easy_getinfo(message->easy_handle, CURLINFO_OS_ERRNO, &osErrno);
        done->osErrno = osErrno;
    }
}

bool InternetLayer::drive(Transfer& t, Phase phase, bool (*ready)(const Transfer&)) {
    Connection& c = *t.connection;
    if (!t.added) {
        if (curl_multi_add_handle(c.multi, t.easy) != CURLM_OK) {
            t.done = true;
            t.result = CURLE_FAILED_INIT;
            return true;
        }
        t.added = true;
    }
    const auto start = Clock::now();
    t.lastActivity = start;
    t.connectPhase = phase == Phase::Connect;
    t.deadline = start + settings_.connectTimeout;
    for (;;) {
        performOnce(t);
        if (t.closed || c.closed) {
            return false;
        }
        if (t.done || ready(t)) {
            return true;
        }
        const auto now = Clock::now();
        if (t.stalled || t.expired(now)) {
            t.stalled = true;
            t.done = true;
            t.result = CURLE_OPERATION_TIMEDOUT;
            curl_multi_remove_handle(c.multi, t.easy);
            t.added = false;
            return true;
        }
        const auto left =
            t.connectPhase ? t.deadline - now : t.lastActivity + settings_.stallTimeout - now;
        const auto wait =
            std::clamp<Clock::duration>(left, Clock::duration::zero(), settings_.waitSlice);
        const int waitMs =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        curl_multi_poll(c.multi, nullptr, 0, waitMs, nullptr);
        loop_.yield();
        if (t.closed || c.closed) {
            return false;
        }
    }
}

bool InternetLayer::finishFailure(Transfer& t) {
    if (t.stalled) {
        return fail(inet::kTimeout);
    }
    if (t.fileErrno != 0) {
        return fail(internetCodeForErrno(t.fileErrno, t.mode == Transfer::Mode::GetFile));
    }
    const std::uint32_t code =
        internetCodeForCurl(t.result, t.osErrno, static_cast<int>(t.lastReply.replyCode));
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
    if (!splitServer(server, &connection->host, &connection->port)) {
        fail(server.empty() ? inet::kNameNotResolved : inet::kInvalidUrl);
        return 0;
    }
    if (port != inet::kDefaultPort) {
        connection->port = port;
    }
    connection->user = user;
    connection->password = password;
    connection->passive = (flags & inet::kFlagPassive) != 0;
    // Registered before the wait, so that closing the session cancels the login.
    session->children.push_back(connection);

    auto login = newTransfer(connection, "/", false);
    if (!login) {
        return 0;
    }
    login->mode = Transfer::Mode::Login;
    curl_easy_setopt(login->easy, CURLOPT_NOBODY, 1L);
    if (!drive(*login, Phase::Connect, never)) {
        fail(inet::kOperationCancelled);
        return 0;
    }
    if (failedOrStalled(*login)) {
        finishFailure(*login);
        return 0;
    }
    setInternetLastError(inet::kSuccess);
    return addHandle(connection);
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
        curl_easy_setopt(t->easy, CURLOPT_UPLOAD, 1L);
    }
    connection->busy = t;
    connection->children.push_back(t);
    if (!drive(*t, Phase::Transfer, writing ? openedForWrite : openedForRead)) {
        retire(t);
        fail(inet::kOperationCancelled);
        return 0;
    }
    if (t->done && failedOrStalled(*t)) {
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
        curl_easy_setopt(t->easy, CURLOPT_UPLOAD, 1L);
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
        return fail(internetCodeForErrno(errno, false));
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
        return fail(internetCodeForErrno(errno, true));
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
    curl_easy_setopt(t->easy, CURLOPT_WILDCARDMATCH, 1L);
    curl_easy_setopt(t->easy, CURLOPT_CHUNK_BGN_FUNCTION, onChunkBegin);
    curl_easy_setopt(t->easy, CURLOPT_CHUNK_DATA, t.get());
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
    if (auto t = std::dynamic_pointer_cast<Transfer>(object);
        t && t->mode == Transfer::Mode::Write && !t->closed) {
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
