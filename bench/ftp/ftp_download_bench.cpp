// Downloads a 5 MB file from the local FTP server with cFTP (255-byte chunks, a listener doing
// the progress handler's arithmetic) and with the curl command line, in the same run, and
// prints both times and their ratio; then the same over TLS (PROT P), against the same server
// speaking TLS, with cFTP requiring it and curl --ssl-reqd. Runs alternate and the best of each
// counts, since other work on the machine only ever adds time. Both times include connecting
// and logging in.

#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "platform/virtual_event_loop.h"
#include "test_certificates.h"
#include "transfer/cftp.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUser[] = "K9-BENCH";
constexpr char kPassword[] = "bench";
constexpr int kRuns = 7;

// Location-file-like text: CR LF lines of numbers.
std::string locationText(std::size_t bytes) {
    std::mt19937 random(42);
    std::string text;
    text.reserve(bytes + 64);
    while (text.size() < bytes) {
        text += std::to_string(51000000 + random() % 1000000) + "," +
                std::to_string(-1000000 + static_cast<int>(random() % 2000000)) + ",30,1\r\n";
    }
    text.resize(bytes);
    return text;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What the main window's progress handler computes for each event.
struct ProgressSink {
    float bar = 0;
    std::string status;
    void operator()(std::int32_t current, std::int32_t total, bool download) {
        const float ratio =
            total != 0 ? static_cast<float>(current) / static_cast<float>(total) : 1.0f;
        const auto percent = static_cast<long>(std::nearbyint(ratio * 100.0f));
        if (download) {
            bar = std::floor(ratio * 15.0f) + 10.0f;
            status = "Downloading Data... " + std::to_string(percent) + " % \r\nSending Data to K9";
        } else {
            bar = std::floor(ratio * 5.0f) + 95.0f;
            status = "Sending New Locations to Server..." + std::to_string(percent) + " % ";
        }
    }
};

double timeCftp(k9::EventLoop& loop, const k9::LocalFtpServer& server, const std::string& out,
                const k9::InternetSettings& settings, bool* ok) {
    ProgressSink sink;
    const auto start = Clock::now();
    auto ftp = std::make_shared<k9::cFTP>(loop, settings);
    ftp->setFileTransferProgress(
        [&sink](std::int32_t c, std::int32_t t, bool d) { sink(c, t, d); });
    *ok = ftp->OpenConnection(server.hostPort(), kUser, kPassword) &&
          ftp->FTPDownloadFile(out, "Cameras.qk");
    if (!*ok) {
        std::fprintf(stderr, "cFTP failed: %s\n", ftp->GetLastErrorMessage().c_str());
    }
    ftp->CloseConnection();
    ftp.reset();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double timeCurl(const k9::LocalFtpServer& server, const std::string& out, const std::string& caFile,
                bool* ok) {
    const std::string url =
        "ftp://" + std::string(kUser) + ":" + kPassword + "@" + server.hostPort() + "/Cameras.qk";
    std::vector<std::string> args = {"curl", "-s", "-S", "-o", out, url};
    if (!caFile.empty()) {
        args.insert(args.end(), {"--ssl-reqd", "--cacert", caFile});
    }
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execvp("curl", argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    *ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return seconds;
}

double best(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

struct Times {
    double cftp;
    double curl;
    double idle;
};

// The best of kRuns alternating runs; nothing when a download failed or differs.
std::optional<Times> measure(k9::EventLoop& loop, const k9::LocalFtpServer& server,
                             const std::string& bytes, const k9::InternetSettings& settings,
                             const std::string& caFile) {
    const std::string outCftp = server.rootDir() + "/../cftp.qk";
    const std::string outCurl = server.rootDir() + "/../curl.qk";
    // The same download on a loop whose turns cost nothing shows what the per-chunk turns of
    // the real loop add.
    k9::VirtualEventLoop idleLoop;
    std::vector<double> idleTimes;
    std::vector<double> cftpTimes;
    std::vector<double> curlTimes;
    bool allOk = true;
    for (int run = 0; run <= kRuns; ++run) {  // run 0 warms both up
        bool ok = false;
        const double c = timeCftp(loop, server, outCftp, settings, &ok);
        allOk = allOk && ok && slurp(outCftp) == bytes;
        const double u = timeCurl(server, outCurl, caFile, &ok);
        allOk = allOk && ok && slurp(outCurl) == bytes;
        const double i = timeCftp(idleLoop, server, outCftp, settings, &ok);
        allOk = allOk && ok;
        if (run > 0) {
            cftpTimes.push_back(c);
            curlTimes.push_back(u);
            idleTimes.push_back(i);
        }
    }
    if (!allOk) {
        return std::nullopt;
    }
    return Times{best(cftpTimes), best(curlTimes), best(idleTimes)};
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    k9::QtEventLoop loop;
    const std::string bytes = locationText(5 * 1024 * 1024);
    const k9::TestCertificates certificates;
    const struct {
        const char* name;
        k9::FtpServerTls server;
        k9::InternetSettings client;
        std::string caFile;
    } kinds[] = {
        {"ftp_download", {}, {}, ""},
        {"ftp_download_tls",
         certificates.server(),
         {.tls = k9::FtpTls::Require, .caFile = certificates.caFile()},
         certificates.caFile()},
    };
    for (const auto& kind : kinds) {
        k9::LocalFtpServer server({k9::FtpAccount{kUser, kPassword, "bench"}}, kind.server);
        server.putFile(kUser, "Cameras.qk", bytes);
        const auto times = measure(loop, server, bytes, kind.client, kind.caFile);
        if (!times) {
            std::printf("%s: FAILED (a download failed or differs)\n", kind.name);
            return 1;
        }
        std::printf("%s_cftp: %.3f s\n", kind.name, times->cftp);
        std::printf("%s_curl: %.3f s\n", kind.name, times->curl);
        std::printf("%s_ratio: %.2f x (target < 2)\n", kind.name, times->cftp / times->curl);
        std::printf("%s_cftp_without_turns: %.3f s\n", kind.name, times->idle);
    }
    return 0;
}
