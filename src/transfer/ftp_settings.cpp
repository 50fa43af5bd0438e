#include "transfer/ftp_settings.h"

#include "config/xdg_paths.h"

namespace k9 {

std::string tlsHostsFile() {
    return stateFolder() + "/ftp-tls-hosts";
}

InternetSettings ftpSettingsFor(const AppConfig& config) {
    InternetSettings settings;
    settings.tls = config.ftpTls;
    settings.caFile = config.ftpCaFile;
    settings.tlsHostsFile = tlsHostsFile();
    return settings;
}

}  // namespace k9
