#pragma once

#include <random>
#include <string>

#include "platform/busy_pointer.h"

namespace k9 {

class EventLoop;
class MainView;

// The busy dots and the hourglass pointer of the main window.
class BusyIndicators final : public BusyPointer {
  public:
    explicit BusyIndicators(MainView& view) : view_(view) {}

    void tmrDots_Timer();
    void ShowBusyPointer() override;
    void ShowNormalPointer() override;

  private:
    MainView& view_;
};

// 2000 to 3999 random characters, yielding after each one; written over the downloaded file
// before it is deleted.
std::string RandomText(EventLoop& loop, std::mt19937& random);

}  // namespace k9
