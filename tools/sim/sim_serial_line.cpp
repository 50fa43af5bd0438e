#include "sim_serial_line.h"

#include <utility>

#include "platform/runtime_error.h"

namespace k9 {

SimSerialLine::SimSerialLine(VirtualEventLoop& loop, SimUnit& unit, std::int16_t unitPort)
    : loop_(loop), unit_(unit) {
    ports_[unitPort] = Port::kUnit;
}

SimSerialLine::~SimSerialLine() {
    close();
}

void SimSerialLine::setPort(std::int16_t number, Port kind) {
    if (kind == Port::kUnit) {
        for (auto& [n, k] : ports_) {
            if (k == Port::kUnit && n != number) {
                if (open_ && n == openPort_) {
                    breakLine();
                }
                k = Port::kEmpty;
            }
        }
    }
    if (open_ && number == openPort_ && kindOf(number) != kind) {
        breakLine();
    }
    ports_[number] = kind;
}

SimSerialLine::Port SimSerialLine::kindOf(std::int16_t number) const {
    const auto it = ports_.find(number);
    return it == ports_.end() ? Port::kAbsent : it->second;
}

void SimSerialLine::setSettings(const std::string& settings) {
    parseLineSettings(settings);
    settings_ = settings;
}

void SimSerialLine::setPortOpen(bool open) {
    if (!portOpenChanges(open, open_, commPort_)) {
        return;
    }
    if (open) {
        this->open();
    } else {
        close();
    }
}

void SimSerialLine::open() {
    const Port kind = kindOf(commPort_);
    if (commPort_ < 1 || kind == Port::kAbsent) {
        raise(err::kInvalidPortNumber, "Invalid Port Number");
    }
    if (kind == Port::kInUse) {
        raise(err::kPortNotAvailable, "The port is in use by another program");
    }
    parseLineSettings(settings_);
    open_ = true;
    openPort_ = commPort_;
    broken_ = false;
    rx_.clear();
    settingsAtOpen_ = settings_;
    ++opens_;
    if (kind == Port::kUnit) {
        unit_.connect(loop_.tickMs());
        planWake();
    }
}

void SimSerialLine::close() {
    if (!open_) {
        return;
    }
    if (unitAttached() && unit_.connected()) {
        unit_.disconnect(loop_.tickMs());
    }
    open_ = false;
    broken_ = false;
    rx_.clear();
}

std::string SimSerialLine::input() {
    if (!open_) {
        raise(err::kPortNotOpen, "Operation valid only when the port is open");
    }
    pump();
    if (broken_) {
        raise(err::kPortIo, "The serial device is no longer available");
    }
    if (inputLen_ > 0 && rx_.size() > static_cast<std::size_t>(inputLen_)) {
        std::string head = rx_.substr(0, static_cast<std::size_t>(inputLen_));
        rx_.erase(0, head.size());
        return head;
    }
    return std::exchange(rx_, {});
}

void SimSerialLine::output(std::string_view bytes) {
    if (!open_) {
        raise(err::kPortNotOpen, "Operation valid only when the port is open");
    }
    if (broken_) {
        raise(err::kPortIo, "The serial device is no longer available");
    }
    if (!unitAttached()) {
        return;  // nothing plugged in to hear it
    }
    const std::size_t taken = unit_.feed(bytes, loop_.tickMs());
    pump();
    if (taken < bytes.size()) {
        raise(err::kPortIo, "Error writing to the serial device");
    }
}

// Moves what the unit has sent by now into the receive buffer and books the next wake-up.
void SimSerialLine::pump() {
    if (!unitAttached() || broken_) {
        return;
    }
    rx_ += unit_.takeOutput(loop_.tickMs());
    if (unit_.lineCut()) {
        breakLine();
        return;
    }
    planWake();
}

void SimSerialLine::planWake() {
    const std::int64_t due = unit_.nextWakeMs();
    if (due < 0 || (plannedWakeMs_ >= 0 && plannedWakeMs_ <= due)) {
        return;  // nothing to do, or an earlier wake-up is queued and will plan again
    }
    plannedWakeMs_ = due;
    loop_.scheduleAt(due, [this, alive = std::weak_ptr<char>(alive_), due] {
        if (alive.expired()) {
            return;
        }
        if (plannedWakeMs_ == due) {
            plannedWakeMs_ = -1;
        }
        pump();
    });
}

void SimSerialLine::breakLine() {
    if (unitAttached() && unit_.connected() && !unit_.lineCut()) {
        unit_.disconnect(loop_.tickMs());
    }
    broken_ = true;
    rx_.clear();
}

void SimSerialLine::raise(std::int32_t number, const std::string& what) const {
    throw RuntimeError(number, "Serial port COM" + std::to_string(commPort_), what);
}

}  // namespace k9
