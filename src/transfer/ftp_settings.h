#pragma once

#include "config/app_config.h"
#include "internet/internet_layer.h"

namespace k9 {

// Where the servers that have spoken TLS are remembered: ftp-tls-hosts in the state folder.
std::string tlsHostsFile();

// The transfer's settings for the configuration: its ftp_tls and ftp_ca_file, and the memory
// of TLS servers in the state folder. Whoever builds a cFTP for a run passes these.
InternetSettings ftpSettingsFor(const AppConfig& config);

}  // namespace k9
