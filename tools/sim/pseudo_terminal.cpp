#include "pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace k9 {
namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0) {
        fail("posix_openpt");
    }
    char name[128] = {};
    termios raw{};
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0 || ::tcgetattr(master_, &raw) != 0) {
        const int saved = errno;
        close();
        errno = saved;
        fail("pseudo-terminal setup");
    }
    slavePath_ = name;
    // No echo and no line editing before the updater sets its own line settings.
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B38400);
    ::tcsetattr(master_, TCSANOW, &raw);
    // A slave that was never opened does not show as hung up; one open and close makes it so,
    // and from then on the master reports every holder coming and going.
    touchSlave(false);
}

PseudoTerminal::~PseudoTerminal() {
    close();
}

bool PseudoTerminal::peerPresent() const {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

void PseudoTerminal::discardUnread() {
    touchSlave(true);
}

void PseudoTerminal::close() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

void PseudoTerminal::touchSlave(bool flush) {
    const int slave = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        return;  // somebody holds it exclusively: they will read what is there
    }
    if (flush) {
        ::tcflush(slave, TCIFLUSH);
    }
    ::close(slave);
}

}  // namespace k9
