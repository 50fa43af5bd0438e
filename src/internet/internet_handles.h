#pragma once

// The objects behind the internet layer's handles, shared by the handle table, the libcurl
// driver and the operations.

#include <curl/curl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "internet/curl_check.h"
#include "internet/internet_layer.h"

namespace k9 {

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
            // A socket libcurl already gave up needs no shutdown.
            (void)::shutdown(s, SHUT_RD);
        }
        cleanUp([this] { checkCurl(curl_multi_cleanup(multi), "curl_multi_cleanup"); });
        // After the multi handle, which may still close connections that used its sessions.
        if (share != nullptr) {
            cleanUp([this] { checkCurl(curl_share_cleanup(share), "curl_share_cleanup"); });
        }
    }

    CURLM* const multi;
    // The TLS sessions of the login, which the data connections resume (some servers insist).
    CURLSH* share = nullptr;
    std::string host;
    long port = 21;
    std::string user;
    std::string password;
    bool passive = true;
    long useSsl = CURLUSESSL_NONE;
    bool remembered = false;  // the server spoke TLS before: clear text is refused
    bool spokeTls = false;    // an earlier login on this connection was encrypted
    FtpSessionInfo session;
    std::set<curl_socket_t> sockets;
    std::weak_ptr<Transfer> busy;
};

// One libcurl transfer on a connection: the login, a listing, a streamed or whole-file
// transfer.
struct InternetLayer::Transfer final : Object {
    enum class Mode { Login, Find, Read, Write, GetFile, PutFile };
    using Clock = std::chrono::steady_clock;

    Transfer(std::shared_ptr<Connection> c, EventLoop& l, const InternetSettings& s)
        : Object(Kind::File), connection(std::move(c)), loop(l), settings(s) {}
    ~Transfer() override {
        if (easy != nullptr) {
            cleanUp([this] {
                setOption(easy, CURLOPT_NOPROGRESS, 1L);
                if (added) {
                    checkCurl(curl_multi_remove_handle(connection->multi, easy),
                              "curl_multi_remove_handle");
                }
            });
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
    char errorText[CURL_ERROR_SIZE] = {};
    bool tlsOffered = false;  // the server took AUTH TLS
    FtpSessionInfo tls;       // what the login turned out to be, once the server took it
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

}  // namespace k9
