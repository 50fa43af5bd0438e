#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace k9 {

// SIGINT and SIGTERM become a call on the event loop, so they act where a click on "Close"
// would: between two steps of the run, never inside one.
class StopSignals final {
  public:
    explicit StopSignals(std::function<void()> onStop);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

  private:
    std::function<void()> onStop_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace k9
