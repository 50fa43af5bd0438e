// Downloads a 5 MB file from the local FTP server with cFTP (255-byte chunks, a listener doing
// the progress handler's arithmetic) and with the curl command line, in the same run, and
// prints both times and their ratio. Runs alternate and the best of each counts, since other
// work on the machine only ever adds time. Both times include connecting and logging in.

#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "platform/virtual_event_loop.h"
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
                bool* ok) {
    ProgressSink sink;
    const auto start = Clock::now();
    auto ftp = std::make_shared<k9::cFTP>(loop);
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

double timeCurl(const k9::LocalFtpServer& server, const std::string& out, bool* ok) {
    const std::string url =
        "ftp://" + std::string(kUser) + ":" + kPassword + "@" + server.hostPort() + "/Cameras.qk";
    std::vector<std::string> args = {"curl", "-s", "-S", "-o", out, url};
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    k9::QtEventLoop loop;
    k9::LocalFtpServer server({k9::FtpAccount{kUser, kPassword, "bench"}});
    const std::string bytes = locationText(5 * 1024 * 1024);
    server.putFile(kUser, "Cameras.qk", bytes);
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
        const double c = timeCftp(loop, server, outCftp, &ok);
        allOk = allOk && ok && slurp(outCftp) == bytes;
        const double u = timeCurl(server, outCurl, &ok);
        allOk = allOk && ok && slurp(outCurl) == bytes;
        const double i = timeCftp(idleLoop, server, outCftp, &ok);
        allOk = allOk && ok;
        if (run > 0) {
            cftpTimes.push_back(c);
            curlTimes.push_back(u);
            idleTimes.push_back(i);
        }
    }
    if (!allOk) {
        std::printf("ftp_download: FAILED (a download failed or differs)\n");
        return 1;
    }
    const double cftp = best(cftpTimes);
    const double curl = best(curlTimes);
    std::printf("ftp_download_cftp: %.3f s\n", cftp);
    std::printf("ftp_download_curl: %.3f s\n", curl);
    std::printf("ftp_download_ratio: %.2f x (target < 2)\n", cftp / curl);
    std::printf("ftp_download_cftp_without_turns: %.3f s\n", best(idleTimes));
    return 0;
}
