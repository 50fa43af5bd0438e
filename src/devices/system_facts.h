#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/port_culprit.h"

namespace k9 {

// What the port's culprit finder reads of the machine, each below a SystemRoot and each
// without root: whatever cannot be read counts as not known.

struct ProcessSeen {
    long pid = 0;
    std::string command;      // /proc/<pid>/comm
    bool fdReadable = false;  // its open files could be listed (ours, or we are root)
    bool holds = false;       // one of them, or its lock file, is the node
};

// Every process, with whether it holds `node`.
std::vector<ProcessSeen> scanProcesses(const SystemRoot& root, const std::string& node);

// The udev database's properties of a tty node (E: lines of /run/udev/data/c<major>:<minor>).
std::map<std::string, std::string> udevProperties(const SystemRoot& root, const std::string& node);

struct RuleHit {
    std::string file;  // the rule file's name, e.g. "85-brltty.rules"
    std::string line;
};

// The first rule naming the adapter's ids in the rule files whose names hold `fileWord`,
// taking files as udev does: one of the same name in /etc or /run replaces the packaged one.
std::optional<RuleHit> findUdevRule(const SystemRoot& root, std::string_view fileWord,
                                    const UsbIds& ids);

// Whether a udev rule line matches these ids: ENV{PRODUCT}=="1a86/7523/*", or
// ATTRS{idVendor}=="1a86" with ATTRS{idProduct}=="7523".
bool ruleMatches(std::string_view line, const UsbIds& ids);

// The kernel's messages, oldest first; none where the user may not read them.
std::vector<std::string> kernelMessages(const SystemRoot& root);

// What the kernel log says of the node's last arrival: whether brltty took the adapter after
// it, and the ids it announced just before.
struct KernelStory {
    bool brlttyClaimed = false;
    std::optional<UsbIds> ids;
};
KernelStory kernelStory(const std::vector<std::string>& messages, std::string_view nodeName);

}  // namespace k9
