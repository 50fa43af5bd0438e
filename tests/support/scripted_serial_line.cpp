#include "scripted_serial_line.h"

#include "platform/runtime_error.h"

namespace k9::test {

void ScriptedSerialLine::setPortOpen(bool open) {
    if (!open) {
        if (closeFails) {
            throw RuntimeError(err::kPortNotAvailable, "Serial port", "The port cannot be closed");
        }
        open_ = false;
        return;
    }
    if (present.count(port_) == 0) {
        throw RuntimeError(err::kInvalidPortNumber, "Serial port", "Invalid Port Number");
    }
    if (held.count(port_) != 0) {
        throw RuntimeError(err::kPortNotAvailable, "Serial port", "The port is in use");
    }
    parseLineSettings(settings_);
    open_ = true;
    ++opens;
}

std::string ScriptedSerialLine::input() {
    return std::exchange(pending_, {});
}

void ScriptedSerialLine::output(std::string_view bytes) {
    writes.emplace_back(loop_.tickMs(), std::string(bytes));
    if (onWrite) {
        onWrite(writes.back().second);
    }
}

void ScriptedSerialLine::arriveAfter(std::int64_t delayMs, std::string bytes) {
    loop_.scheduleAfter(delayMs, [this, b = std::move(bytes)] {
        if (open_) {
            pending_ += b;
        }
    });
}

std::string ScriptedSerialLine::written() const {
    std::string all;
    for (const auto& w : writes) {
        all += w.second;
    }
    return all;
}

}  // namespace k9::test
