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

}  // namespace k9
