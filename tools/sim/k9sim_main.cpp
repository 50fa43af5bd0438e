// k9sim: a simulated K9 detector on a pseudo-terminal, for demos and end-to-end tests.

#include <signal.h>

#include <csignal>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>

#include "pseudo_terminal.h"
#include "pty_runner.h"
#include "sim_command_line.h"
#include "sim_unit.h"
#include "symlink_guard.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onStopSignal(int) {
    gStop = 1;
}

// Signals stay blocked except while the runner sleeps, so a stop is never missed between a
// check of the flag and the wait. Returns the mask to sleep with.
sigset_t takeStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sigset_t stopSet;
    sigemptyset(&stopSet);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(sig, &sa, nullptr);
        sigaddset(&stopSet, sig);
    }
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &stopSet, &previous);
    return previous;
}

bool readFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

const char* describe(k9::PtyRunner::End end) {
    switch (end) {
        case k9::PtyRunner::End::kPeerClosed:
            return "port closed by the updater";
        case k9::PtyRunner::End::kLineCut:
            return "line hung up";
        case k9::PtyRunner::End::kTimedOut:
            return "timed out";
        case k9::PtyRunner::End::kStopped:
            return "stopped";
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    k9::SimCommandLine cl =
        k9::parseSimCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (cl.help) {
        std::cout << k9::simUsage();
        return 0;
    }
    if (!cl.error.empty()) {
        std::cerr << "k9sim: " << cl.error << "\n(k9sim --help lists the options)\n";
        return 2;
    }
    if (!cl.locationsFile.empty() && !readFile(cl.locationsFile, cl.options.locations)) {
        std::cerr << "k9sim: cannot read " << cl.locationsFile << '\n';
        return 2;
    }
    const sigset_t waitMask = takeStopSignals();

    std::unique_ptr<k9::PseudoTerminal> pty;
    std::optional<k9::SymlinkGuard> link;
    try {
        pty = std::make_unique<k9::PseudoTerminal>();
        if (!cl.linkPath.empty()) {
            link.emplace(cl.linkPath, pty->slavePath());
        }
    } catch (const std::exception& e) {
        std::cerr << "k9sim: " << e.what() << '\n';
        return 2;
    }
    std::cout << pty->slavePath() << std::endl;

    k9::SimUnit unit(cl.options);
    k9::PtyRunner::End end = k9::PtyRunner::End::kStopped;
    int status = 1;
    try {
        end = k9::PtyRunner(unit, *pty, std::cout).run(cl.timeoutMs, gStop, &waitMask);
        status = unit.completed() ? 0 : 1;
    } catch (const std::exception& e) {
        std::cerr << "k9sim: " << e.what() << '\n';
    }
    pty->close();
    if (!cl.receivedFile.empty() && !writeFile(cl.receivedFile, unit.received())) {
        std::cerr << "k9sim: cannot write " << cl.receivedFile << '\n';
        status = 2;
    }
    std::cout << "end: " << describe(end) << ", "
              << (unit.completed() ? "session ended as scripted" : "session not completed")
              << std::endl;
    return status;
}
