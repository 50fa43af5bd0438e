#include "internet/curl_driver.h"

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
#include <string_view>
#include <utility>

#include "diagnostics/support_trace.h"
#include "internet/curl_check.h"
#include "internet/tls_session.h"
#include "platform/event_loop.h"

namespace k9 {
using namespace curl_driver;

namespace {

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
        // Every reply of a login after the server took AUTH TLS comes over the session.
        if (t.mode == Transfer::Mode::Login && t.tlsOffered) {
            try {
                tls_session::capture(t);
            } catch (...) {
                // Not through libcurl's frames: the layer call rethrows it once libcurl returns.
                t.handlerError = std::current_exception();
                return 0;
            }
        }
        t.tlsOffered = t.tlsOffered || (code == 234 && t.mode == Transfer::Mode::Login);
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

// libcurl's transcript of the control connection: commands and replies, never the data.
int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT) {
        return 0;
    }
    auto& trace = *static_cast<SupportTrace*>(user);
    std::string_view text(data, size);
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (type == CURLINFO_HEADER_OUT && line.rfind("PASS ", 0) == 0) {
            line = "PASS ****";
        }
        trace.line(type == CURLINFO_HEADER_IN ? "ftp<" : "ftp>", line);
    }
    return 0;
}

}  // namespace

namespace curl_driver {

void ensureCurl() {
    static std::once_flag once;
    std::call_once(once,
                   [] { checkCurl(curl_global_init(CURL_GLOBAL_DEFAULT), "curl_global_init"); });
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
        checkCurl(curl_easy_pause(t.easy, CURLPAUSE_CONT), "curl_easy_pause");
    }
}

bool failedOrStalled(const Transfer& t) {
    return t.stalled || t.result != CURLE_OK;
}

bool setTransferType(Transfer& t, std::uint32_t flags) {
    setOption(t.easy, CURLOPT_TRANSFERTEXT, 0L);
    setOption(t.easy, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    if ((flags & 3u) != inet::kTransferTypeBinary) {
        t.prequote = curl_slist_append(nullptr, "TYPE A");
        if (t.prequote == nullptr) {
            return false;
        }
        setOption(t.easy, CURLOPT_PREQUOTE, t.prequote);
    }
    return true;
}

}  // namespace curl_driver

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
    // The host was checked by connect; the path is encoded, or a pattern libcurl takes raw.
    checkCurl(curl_url_set(t->url, CURLUPART_URL, base.c_str(), 0), "curl_url_set URL");
    checkCurl(curl_url_set(t->url, CURLUPART_PATH, path.c_str(), rawPath ? 0 : CURLU_URLENCODE),
              "curl_url_set PATH");
    CURL* e = t->easy;
    setOption(e, CURLOPT_CURLU, t->url);
    setOption(e, CURLOPT_USERNAME, connection->user.c_str());
    setOption(e, CURLOPT_PASSWORD, connection->password.c_str());
    setOption(e, CURLOPT_PRIVATE, t.get());
    setOption(e, CURLOPT_NOSIGNAL, 1L);
    setOption(e, CURLOPT_HEADERFUNCTION, onHeader);
    setOption(e, CURLOPT_HEADERDATA, t.get());
    setOption(e, CURLOPT_WRITEFUNCTION, onReceive);
    setOption(e, CURLOPT_WRITEDATA, t.get());
    setOption(e, CURLOPT_READFUNCTION, onSend);
    setOption(e, CURLOPT_READDATA, t.get());
    setOption(e, CURLOPT_NOPROGRESS, 0L);
    setOption(e, CURLOPT_XFERINFOFUNCTION, onProgress);
    setOption(e, CURLOPT_XFERINFODATA, t.get());
    setOption(e, CURLOPT_OPENSOCKETFUNCTION, onOpenSocket);
    setOption(e, CURLOPT_OPENSOCKETDATA, connection.get());
    setOption(e, CURLOPT_CLOSESOCKETFUNCTION, onCloseSocket);
    setOption(e, CURLOPT_CLOSESOCKETDATA, connection.get());
    setOption(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.connectTimeout.count()));
    setOption(e, CURLOPT_ACCEPTTIMEOUT_MS, static_cast<long>(settings_.connectTimeout.count()));
    // Bounds the waits for a reply that libcurl does inside a single call.
    const long responseSeconds =
        std::max<long>(1, static_cast<long>((settings_.stallTimeout.count() + 999) / 1000));
    setOption(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, responseSeconds);
    setOption(e, CURLOPT_BUFFERSIZE, 64L * 1024L);
    if (!connection->passive) {
        setOption(e, CURLOPT_FTPPORT, "-");
    }
    tls_session::prepare(*t);
    if (trace_ != nullptr && trace_->on()) {
        setOption(e, CURLOPT_DEBUGFUNCTION, onDebug);
        setOption(e, CURLOPT_DEBUGDATA, trace_);
        setOption(e, CURLOPT_VERBOSE, 1L);
    }
    return t;
}
void InternetLayer::performOnce(Transfer& t) {
    Connection& c = *t.connection;
    int running = 0;
    t.inCurl = true;
    t.curlEntered = Clock::now();
    const CURLMcode performed = curl_multi_perform(c.multi, &running);
    t.inCurl = false;
    if (t.handlerError) {
        std::rethrow_exception(std::exchange(t.handlerError, nullptr));
    }
    checkCurl(performed, "curl_multi_perform");
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(c.multi, &left)) {
        if (message->msg != CURLMSG_DONE) {
            continue;
        }
        char* owner = nullptr;
        getInfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
        if (owner == nullptr) {
            continue;
        }
        auto* done = reinterpret_cast<Transfer*>(owner);
        done->done = true;
        done->result = message->data.result;
        long osErrno = 0;
        getInfo(message->easy_handle, CURLINFO_OS_ERRNO, &osErrno);
        done->osErrno = osErrno;
    }
}

bool InternetLayer::drive(Transfer& t, Phase phase, bool (*ready)(const Transfer&)) {
    Connection& c = *t.connection;
    if (!t.added) {
        checkCurl(curl_multi_add_handle(c.multi, t.easy), "curl_multi_add_handle");
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
            t.added = false;
            checkCurl(curl_multi_remove_handle(c.multi, t.easy), "curl_multi_remove_handle");
            return true;
        }
        const auto left =
            t.connectPhase ? t.deadline - now : t.lastActivity + settings_.stallTimeout - now;
        const auto wait =
            std::clamp<Clock::duration>(left, Clock::duration::zero(), settings_.waitSlice);
        const int waitMs =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        checkCurl(curl_multi_poll(c.multi, nullptr, 0, waitMs, nullptr), "curl_multi_poll");
        loop_.yield();
        if (t.closed || c.closed) {
            return false;
        }
    }
}

}  // namespace k9
