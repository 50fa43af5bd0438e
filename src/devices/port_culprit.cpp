#include "devices/port_culprit.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "devices/port_identity.h"
#include "devices/system_facts.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

constexpr const char* kStopBrltty = "sudo systemctl stop brltty-udev.service brltty.service";

std::string hex(std::uint16_t value, bool padded) {
    char text[8];
    std::snprintf(text, sizeof text, padded ? "%04x" : "%x", static_cast<unsigned>(value));
    return text;
}

std::string idText(const UsbIds& ids) {
    return hex(ids.vendor, true) + ":" + hex(ids.product, true);
}

std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// The node a path leads to, as the machine below the root names it ("/dev/ttyUSB0").
std::string resolveNode(const SystemRoot& root, const std::string& device) {
    std::error_code error;
    std::error_code baseError;
    const std::string resolved = fs::weakly_canonical(root.path(device), error).string();
    std::string base = fs::weakly_canonical(root.path("/"), baseError).string();
    if (error || baseError) {
        return device;
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    if (base.empty()) {
        return resolved;
    }
    return resolved.rfind(base + "/", 0) == 0 ? resolved.substr(base.size()) : device;
}

// A rule file of ours that udev reads right after `after` ("85-brltty.rules" -> 86-...), so
// its settings win over those of the packaged file.
std::string ruleFile(const std::optional<RuleHit>& after, int fallback, const std::string& tag) {
    int number = fallback;
    if (after && after->file.size() > 2 &&
        std::isdigit(static_cast<unsigned char>(after->file[0])) &&
        std::isdigit(static_cast<unsigned char>(after->file[1]))) {
        number = std::min(99, std::stoi(after->file.substr(0, 2)) + 1);
    }
    return "/etc/udev/rules.d/" + std::to_string(number) + "-k9updater-" + tag + ".rules";
}

// How a rule names the adapter, or the node when it is no USB adapter.
std::string adapterMatch(const std::optional<UsbIds>& ids, const std::string& node) {
    if (!ids) {
        return "KERNEL==\"" + baseName(node) + "\"";
    }
    return "ATTRS{idVendor}==\"" + hex(ids->vendor, true) + "\", ATTRS{idProduct}==\"" +
           hex(ids->product, true) + "\"";
}

std::string ruleTag(const std::optional<UsbIds>& ids, const std::string& node) {
    return ids ? hex(ids->vendor, true) + "-" + hex(ids->product, true) : baseName(node);
}

std::string pidText(long pid) {
    return pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string();
}

PortCulprit brlttyCulprit(const std::string& node, const std::optional<UsbIds>& ids,
                          const SystemRoot& root, long pid, PortSymptom symptom) {
    PortCulprit c{CulpritKind::Brltty, pid, "brltty", {}};
    c.line = symptom == PortSymptom::Vanished
                 ? "brltty, the braille display service, took the adapter" +
                       (ids ? " " + idText(*ids) : std::string()) + " for a braille display, so " +
                       node + " went away. "
                 : node + " is held by brltty, the braille display service" + pidText(pid) + ". ";
    // Stopping it is for machines without a braille display; the rule leaves it to the
    // people who read with one.
    c.line += std::string("If nobody here reads with a braille display, stop it: ") + kStopBrltty;
    if (ids) {
        const std::optional<RuleHit> rule = findUdevRule(root, "brltty", *ids);
        c.line +=
            ". Or keep it off this adapter, and plug the adapter in again, with this line in " +
            ruleFile(rule, 86, ruleTag(ids, node)) + ": SUBSYSTEM==\"usb\", ENV{PRODUCT}==\"" +
            hex(ids->vendor, false) + "/" + hex(ids->product, false) +
            "/*\", ENV{SYSTEMD_WANTS}=\"\"";
    }
    return c;
}

PortCulprit modemManagerCulprit(const std::string& node, const std::optional<UsbIds>& ids,
                                long pid) {
    return {CulpritKind::ModemManager, pid, "ModemManager",
            node + " is held by ModemManager, which checks new serial ports for a modem; it " +
                "usually lets go within seconds. To keep it off this adapter for good, put this " +
                "line in /etc/udev/rules.d/70-k9updater-" + ruleTag(ids, node) +
                ".rules: " + adapterMatch(ids, node) + ", ENV{ID_MM_DEVICE_IGNORE}=\"1\""};
}

PortCulprit gpsdCulprit(const std::string& node, const std::optional<UsbIds>& ids,
                        const SystemRoot& root, long pid) {
    const std::optional<RuleHit> rule = ids ? findUdevRule(root, "gpsd", *ids) : std::nullopt;
    return {CulpritKind::Gpsd, pid, "gpsd",
            node + " is held by gpsd, the GPS service" +
                (rule ? ", whose udev rules take " + idText(*ids) + " adapters for GPS receivers"
                      : std::string()) +
                ". Free it now: sudo gpsdctl remove " + node +
                "; to keep gpsd off this adapter, put this line in " +
                ruleFile(rule, 61, ruleTag(ids, node)) + ": SUBSYSTEM==\"tty\", " +
                adapterMatch(ids, node) + ", ENV{SYSTEMD_WANTS}=\"\""};
}

PortCulprit holderCulprit(const ProcessSeen& holder, const std::string& node,
                          const std::optional<UsbIds>& ids, const SystemRoot& root) {
    // The list rebuilt during a run finds the run's own port held.
    if (root.path("/") == "/" && holder.pid == ::getpid()) {
        return {CulpritKind::Process, holder.pid, holder.command,
                node + " is in use by this program's own run."};
    }
    if (holder.command == "brltty") {
        return brlttyCulprit(node, ids, root, holder.pid, PortSymptom::Busy);
    }
    if (holder.command == "ModemManager") {
        return modemManagerCulprit(node, ids, holder.pid);
    }
    if (holder.command == "gpsd") {
        return gpsdCulprit(node, ids, root, holder.pid);
    }
    return {CulpritKind::Process, holder.pid, holder.command,
            node + " is held by " + holder.command + pidText(holder.pid) + ": close it there."};
}

// A running service whose open files we may not see: it may be the holder.
const ProcessSeen* hiddenService(const std::vector<ProcessSeen>& processes,
                                 std::string_view command) {
    for (const ProcessSeen& p : processes) {
        if (p.command == command && !p.fdReadable) {
            return &p;
        }
    }
    return nullptr;
}

PortCulprit whyVanished(const SystemRoot& root, const std::string& node,
                        std::optional<UsbIds> ids) {
    const KernelStory story = kernelStory(kernelMessages(root), baseName(node));
    if (!ids) {
        ids = story.ids;
    }
    long brltty = 0;
    for (const ProcessSeen& p : scanProcesses(root, node)) {
        brltty = p.command == "brltty" ? p.pid : brltty;
    }
    const bool ruleTakes = ids && findUdevRule(root, "brltty", *ids).has_value();
    if ((brltty != 0 && ruleTakes) || story.brlttyClaimed) {
        return brlttyCulprit(node, ids, root, brltty, PortSymptom::Vanished);
    }
    return {CulpritKind::None,
            0,
            {},
            node + " came and went within seconds; the system log may tell why (sudo dmesg)."};
}

}  // namespace

std::string SystemRoot::path(std::string_view absolute) const {
    std::string text = base;
    while (!text.empty() && text.back() == '/') {
        text.pop_back();
    }
    return text + std::string(absolute);
}

PortCulprit findPortCulprit(const SystemRoot& root, const std::string& device,
                            std::optional<UsbIds> ids, PortSymptom symptom) {
    const std::string node = resolveNode(root, device);
    if (!ids) {
        ids = usbIdsOf(root, node);
    }
    if (symptom == PortSymptom::Vanished) {
        return whyVanished(root, node, ids);
    }
    const std::vector<ProcessSeen> processes = scanProcesses(root, node);
    for (const ProcessSeen& p : processes) {
        if (p.holds) {
            return holderCulprit(p, node, ids, root);
        }
    }
    // Nobody we can see holds it. The services run as root, so for most users their open
    // files stay hidden: what udev set up for the node says which one took it.
    const std::map<std::string, std::string> udev = udevProperties(root, node);
    const auto property = [&udev](const char* key) {
        const auto it = udev.find(key);
        return it == udev.end() ? std::string() : it->second;
    };
    const ProcessSeen* gpsd = hiddenService(processes, "gpsd");
    if (gpsd != nullptr && (property("SYSTEMD_WANTS").find("gpsdctl") != std::string::npos ||
                            (ids && findUdevRule(root, "gpsd", *ids)))) {
        return gpsdCulprit(node, ids, root, gpsd->pid);
    }
    const ProcessSeen* modemManager = hiddenService(processes, "ModemManager");
    if (modemManager != nullptr && property("ID_MM_CANDIDATE") == "1" &&
        property("ID_MM_DEVICE_IGNORE") != "1") {
        return modemManagerCulprit(node, ids, modemManager->pid);
    }
    for (const ProcessSeen& p : processes) {
        if (!p.fdReadable) {
            return {CulpritKind::OtherUser,
                    0,
                    {},
                    node + " is held by a process of another user: ask them, or the " +
                        "administrator, to close it."};
        }
    }
    return {};
}

std::string portTroubleLine(const std::string& device) {
    // Only a port that is there and busy has a holder; one that is gone may have been taken.
    switch (checkPortAccess(device).access) {
        case PortAccess::Busy:
            return findPortCulprit(SystemRoot{}, device).line;
        case PortAccess::Absent: {
            const PortCulprit c =
                findPortCulprit(SystemRoot{}, device, std::nullopt, PortSymptom::Vanished);
            return c.kind == CulpritKind::Brltty ? c.line : std::string();
        }
        case PortAccess::Free:
        case PortAccess::NoPermission:
            break;
    }
    return {};
}

}  // namespace k9
