#pragma once

namespace k9 {

// The screen-wide hourglass around a server operation.
class BusyPointer {
  public:
    virtual ~BusyPointer() = default;
    virtual void ShowBusyPointer() = 0;
    virtual void ShowNormalPointer() = 0;
};

// Shows the hourglass for its lifetime, so every way out of a server operation restores the
// pointer.
class BusyPointerScope final {
  public:
    explicit BusyPointerScope(BusyPointer& busy) : busy_(busy) { busy_.ShowBusyPointer(); }
    ~BusyPointerScope() { busy_.ShowNormalPointer(); }
    BusyPointerScope(const BusyPointerScope&) = delete;
    BusyPointerScope& operator=(const BusyPointerScope&) = delete;

  private:
    BusyPointer& busy_;
};

}  // namespace k9
