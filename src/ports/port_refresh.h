#pragma once

#include <functional>
#include <memory>
#include <string>

namespace k9 {

class EventLoop;
class MainView;
class PortDiscovery;
class Timer;

// Follows plug and unplug: once the device folders have been quiet for a moment, the port
// list is rebuilt for the filter as it stands, keeping the selected number when it is still
// listed. Never under a run, whose port the user chose: the rebuild waits for its end.
// The port the user chose outlives its device: while it is unplugged nothing is selected and
// the list says so; when it comes back it is selected again.
class PortRefresh final {
  public:
    // `signature` describes the devices behind the port numbers; a change that leaves it as
    // it was (another device of the folder) rebuilds nothing. Empty: every change rebuilds.
    PortRefresh(EventLoop& loop, MainView& view, PortDiscovery& discovery,
                std::function<std::string()> signature = {});
    ~PortRefresh();
    PortRefresh(const PortRefresh&) = delete;
    PortRefresh& operator=(const PortRefresh&) = delete;

    // Something changed in a device folder.
    void devicesChanged();
    void runStarted() { running_ = true; }
    // The user's choice of port (by hand, by a run, or saved before); 0 forgets it.
    void choose(int port) { chosen_ = port; }
    int chosen() const { return chosen_; }
    void runEnded();

    int rebuilds() const { return rebuilds_; }

  private:
    void settled();
    void refresh();

    MainView& view_;
    PortDiscovery& discovery_;
    std::function<std::string()> signature_;
    std::unique_ptr<Timer> quiet_;
    std::string last_;
    int chosen_ = 0;
    bool running_ = false;
    bool pending_ = false;
    int rebuilds_ = 0;
};

// How long the device folders must stay quiet: a plug-in creates the node, then its
// permissions and its by-id link follow within a few milliseconds.
inline constexpr int kDeviceSettleMs = 300;

}  // namespace k9
