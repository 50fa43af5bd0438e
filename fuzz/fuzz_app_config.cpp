// The installation's configuration file: any text gives a usable configuration, and what it
// holds reads back the same when written out again.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/app_config.h"
#include "fuzz_check.h"

namespace {

bool trimmed(std::string_view value) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    return value.empty() || (!blank(value.front()) && !blank(value.back()));
}

void checkValue(std::string_view value) {
    K9_FUZZ_CHECK(trimmed(value), "values are trimmed");
    K9_FUZZ_CHECK(value.find('\n') == std::string_view::npos, "a value is one line");
}

std::string writeOut(const k9::AppConfig& config) {
    const char* tls = config.ftpTls == k9::FtpTls::Auto      ? "auto"
                      : config.ftpTls == k9::FtpTls::Require ? "require"
                                                             : "off";
    std::string text = "ftp_host = " + config.ftpHost + "\nweb_host = " + config.webHost +
                       "\nwork_dir = " + config.workDir + "\nftp_tls = " + tls +
                       "\nftp_ca_file = " + config.ftpCaFile + "\n[ports]\n";
    for (const auto& [n, path] : config.ports) {
        text += "COM" + std::to_string(n) + " = " + path + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(bytes), size);
    const k9::AppConfig config = k9::parseAppConfig(text);
    K9_FUZZ_CHECK(!config.ftpHost.empty() && !config.webHost.empty(), "hosts are never empty");
    checkValue(config.ftpHost);
    checkValue(config.webHost);
    checkValue(config.workDir);
    checkValue(config.ftpCaFile);
    const auto defaults = k9::AppConfig::defaultPortMap();
    for (const auto& [n, path] : config.ports) {
        K9_FUZZ_CHECK(n >= 1 && n <= 255, "COM numbers 1 to 255");
        K9_FUZZ_CHECK(!path.empty(), "no empty device path");
        checkValue(path);
    }
    for (const auto& [n, path] : defaults) {
        K9_FUZZ_CHECK(config.ports.count(n) == 1, "default ports are kept");
    }

    const k9::AppConfig again = k9::parseAppConfig(writeOut(config));
    K9_FUZZ_CHECK(again.ftpHost == config.ftpHost && again.webHost == config.webHost &&
                      again.workDir == config.workDir && again.ftpTls == config.ftpTls &&
                      again.ftpCaFile == config.ftpCaFile && again.ports == config.ports,
                  "the configuration reads back the same");
    return 0;
}
