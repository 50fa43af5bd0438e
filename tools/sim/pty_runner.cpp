#include "pty_runner.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ostream>
#include <system_error>

namespace k9 {
namespace {

// While nobody holds the slave, the master reports a hang-up at once and cannot be waited on;
// we look again this often.
constexpr std::int64_t kPeerCheckMs = 50;
// More unsent output than this means the other side is not reading: stop taking more.
constexpr std::size_t kMaxPending = 64 * 1024;

std::int64_t steadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

PtyRunner::PtyRunner(SimUnit& unit, PseudoTerminal& pty, std::ostream& log)
    : unit_(unit), pty_(pty), log_(log), startNs_(steadyNs()) {}

std::int64_t PtyRunner::nowMs() const {
    return (steadyNs() - startNs_) / 1'000'000;
}

PtyRunner::End PtyRunner::run(std::int64_t timeoutMs, const volatile std::sig_atomic_t& stop,
                              const sigset_t* waitMask) {
    for (;;) {
        printLog();
        if (stop) {
            return End::kStopped;
        }
        const std::int64_t now = nowMs();
        const std::int64_t left = timeoutMs < 0 ? -1 : timeoutMs - now;
        if (timeoutMs >= 0 && left <= 0) {
            return End::kTimedOut;
        }
        short revents = 0;
        if (!connected_) {
            if (!pty_.peerPresent()) {
                wait(-1, left < 0 ? kPeerCheckMs : std::min(left, kPeerCheckMs), waitMask, revents);
                continue;
            }
            connected_ = true;
            unit_.connect(now);
        }
        if (pending_.size() < kMaxPending) {
            pending_ += unit_.takeOutput(now);
        }
        if (unit_.lineCut()) {
            printLog();
            return End::kLineCut;
        }
        bool hungUp = !writePending();
        if (!hungUp) {
            std::int64_t timeout = unit_.nextWakeMs();
            if (timeout >= 0 && pending_.size() < kMaxPending) {
                timeout = std::max<std::int64_t>(0, timeout - now);
            } else {
                timeout = -1;  // nothing planned, or waiting for the reader to drain the line
            }
            if (left >= 0) {
                timeout = timeout < 0 ? left : std::min(timeout, left);
            }
            const int events = POLLIN | (pending_.empty() ? 0 : POLLOUT);
            if (wait(events, timeout, waitMask, revents)) {
                hungUp = !readAll() || (revents & POLLHUP) != 0;
            }
        }
        if (hungUp) {
            hangUp();
            if (unit_.completed()) {
                printLog();
                return End::kPeerClosed;
            }
        }
    }
}

// Sleeps in ppoll() on the master (fdEvents >= 0) or on nothing. Returns false when woken by
// a signal or the timeout alone.
bool PtyRunner::wait(int fdEvents, std::int64_t timeoutMs, const sigset_t* waitMask,
                     short& revents) {
    pollfd p{pty_.masterFd(), static_cast<short>(fdEvents < 0 ? 0 : fdEvents), 0};
    timespec ts{};
    timespec* tsp = nullptr;
    if (timeoutMs >= 0) {
        ts.tv_sec = static_cast<time_t>(timeoutMs / 1000);
        ts.tv_nsec = static_cast<long>((timeoutMs % 1000) * 1'000'000);
        tsp = &ts;
    }
    const int r = ::ppoll(fdEvents < 0 ? nullptr : &p, fdEvents < 0 ? 0 : 1, tsp, waitMask);
    if (r < 0 && errno != EINTR) {
        throw std::system_error(errno, std::generic_category(), "ppoll");
    }
    revents = r > 0 ? p.revents : 0;
    return r > 0;
}

// Feeds the unit everything the updater wrote. Returns false when the slave was closed.
bool PtyRunner::readAll() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pty_.masterFd(), buf, sizeof buf);
        if (n > 0) {
            unit_.feed(std::string_view(buf, static_cast<std::size_t>(n)), nowMs());
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // EIO (or end of file) is how the master says nobody holds the slave any more.
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

// Returns false when the slave was closed.
bool PtyRunner::writePending() {
    while (!pending_.empty()) {
        const ssize_t n = ::write(pty_.masterFd(), pending_.data(), pending_.size());
        if (n > 0) {
            pending_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

void PtyRunner::hangUp() {
    unit_.disconnect(nowMs());
    connected_ = false;
    pending_.clear();
    pty_.discardUnread();
}

void PtyRunner::printLog() {
    const auto& lines = unit_.log();
    if (printed_ == lines.size()) {
        return;
    }
    for (; printed_ < lines.size(); ++printed_) {
        log_ << lines[printed_] << '\n';
    }
    log_.flush();
}

}  // namespace k9
