#pragma once

#include <random>
#include <string>

namespace k9 {

class EventLoop;
class MainView;

// The busy dots and the hourglass pointer of the main window.
class BusyIndicators final {
public:
    explicit BusyIndicators(MainView& view) : view_(view) {}

    void tmrDots_Timer();
    void ShowBusyPointer();
    void ShowNormalPointer();

private:
    MainView& view_;
};

// Shows the hourglass for its lifetime, so every way out of a server operation restores the
// pointer.
class BusyPointerScope final {
public:
    explicit BusyPointerScope(BusyIndicators& busy) : busy_(busy) { busy_.ShowBusyPointer(); }
    ~BusyPointerScope() { busy_.ShowNormalPointer(); }
    BusyPointerScope(const BusyPointerScope&) = delete;
    BusyPointerScope& operator=(const BusyPointerScope&) = delete;

private:
    BusyIndicators& busy_;
};

// 2000 to 3999 random characters, yielding after each one; written over the downloaded file
// before it is deleted.
std::string RandomText(EventLoop& loop, std::mt19937& random);

}  // namespace k9
