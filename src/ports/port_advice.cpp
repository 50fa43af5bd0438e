#include "ports/port_advice.h"

#include "devices/port_culprit.h"
#include "platform/texts.h"

namespace k9 {
namespace {

std::string joined(const std::vector<std::string>& devices) {
    std::string text;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == devices.size() ? " and " : ", ") + devices[i];
    }
    return text;
}

}  // namespace

std::string permissionText(const std::vector<std::string>& devices, const PortAccessReport& why) {
    const std::string what = joined(devices);
    const std::string& group = why.group;
    if (group.empty()) {
        return "You have no permission to use " + what + ". " + kCrLf +
               "Ask the administrator of this PC for read and write access to it.";
    }
    if (why.userInGroup && !why.sessionHasGroup) {
        return "You have no permission to use " + what + " yet. " + kCrLf +
               "You are in its group " + group + ", but this session began before you joined it. " +
               kCrLf + "Log out and log in again.";
    }
    if (why.userInGroup) {
        return "You have no permission to use " + what + ". " + kCrLf + "You are in its group " +
               group + ", but the device does not let its group read and write it.";
    }
    return "You have no permission to use " + what + ". " + kCrLf + "It belongs to the group " +
           group + "; to join it, type in a terminal: " + kCrLf + "sudo usermod -aG " + group +
           " $USER" + kCrLf + "then log out and log in again.";
}

std::string portDetail(const PortIdentity& id, std::optional<ProbeResult> result,
                       const PortAccessReport& why) {
    std::string text = id.summary();
    if (!result) {
        return text;
    }
    switch (*result) {
        case ProbeResult::Free:
            break;
        case ProbeResult::InUse:
            text += " - in use";
            if (why.holderPid != 0) {
                text += " by process " + std::to_string(why.holderPid);
            }
            break;
        case ProbeResult::Denied:
            text += " - no permission";
            if (!why.group.empty()) {
                text += " (group " + why.group + ")";
            }
            break;
        case ProbeResult::Absent:
            if (id.present) {
                text += " - not a serial port";
            }
            break;
        case ProbeResult::Other:
            text += " - cannot be opened";
            break;
    }
    return text;
}

std::string portTooltip(const PortIdentity& id, std::optional<ProbeResult> result,
                        const PortAccessReport& why) {
    const std::string detail = portDetail(id, result, why);
    if (result == ProbeResult::InUse && !why.cause.empty()) {
        return detail + kCrLf + why.cause;
    }
    if (result != ProbeResult::Denied) {
        return detail;
    }
    return detail + kCrLf + permissionText({id.device}, why);
}

std::string portOpenCause(const std::string& device) {
    if (device.empty()) {
        return "The port map names no device for this port.";
    }
    // Who took it, when somebody did: a program holding it, or a service that claimed the
    // adapter as it came.
    if (std::string trouble = portTroubleLine(device); !trouble.empty()) {
        return trouble;
    }
    if (identifyPort(device).resolved.empty()) {
        return "There is no device " + device + ": is the unit's cable plugged in?";
    }
    const PortAccessReport why = checkPortAccess(device);
    switch (why.access) {
        case PortAccess::Absent:
            return device + " is not a serial device.";
        case PortAccess::NoPermission:
            return permissionText({device}, why);
        case PortAccess::Busy:
            return device + " is in use by another program.";
        case PortAccess::Free:
            break;
    }
    return {};
}

}  // namespace k9
