#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devices/port_identity.h"
#include "devices/port_probe.h"

namespace k9 {

// What to tell a user who may not open `devices`: the device paths, the group that owns them
// and what to type, or, when the account already has the group, that a new login remains.
std::string permissionText(const std::vector<std::string>& devices, const PortAccessReport& why);

// The line shown for a port entry: its device and, once probed, why it is not free.
std::string portDetail(const PortIdentity& id, std::optional<ProbeResult> result,
                       const PortAccessReport& why);

// The entry's tooltip: its detail line, and the advice for a denied port or the cause of a
// busy one.
std::string portTooltip(const PortIdentity& id, std::optional<ProbeResult> result,
                        const PortAccessReport& why);

// The one line that says why `device` cannot be opened as a port: no such device, not a
// serial device, no permission (with what to do), in use by a process; empty when nothing
// stands in the way.
std::string portOpenCause(const std::string& device);

}  // namespace k9
