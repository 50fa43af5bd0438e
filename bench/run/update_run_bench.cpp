// A whole update in real time against the simulator program on a pseudo-terminal and a local
// FTP server: the pace of the data lines against their 18 ms floor, and the CPU the run uses
// outside the download; then the same run with the support trace on, and the trace's size;
// then the same run holding a sleep inhibitor from a stand-in logind on a private bus, and
// what taking and letting go of one costs.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <vector>

#include "assembly/updater_core.h"
#include "bench_common.h"
#include "desktop/sleep_inhibitor.h"
#include "devices/qt_serial_line.h"
#include "diagnostics/support_trace.h"
#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "private_bus.h"
#include "recording_view.h"
#include "transfer/cftp.h"
#include "update/main_controller.h"
#include "update/run_outcome.h"
#include "update/run_trace.h"

namespace {

constexpr int kLines = 2000;
constexpr double kFloorMs = 18.0;

// Notes when each data line leaves for the unit.
class TimedSerialLine final : public k9::SerialLine {
  public:
    TimedSerialLine(k9::SerialLine& inner, k9::EventLoop& loop) : inner_(inner), loop_(loop) {}
    void setCommPort(std::int16_t p) override { inner_.setCommPort(p); }
    std::int16_t commPort() const override { return inner_.commPort(); }
    void setSettings(const std::string& s) override { inner_.setSettings(s); }
    std::string settings() const override { return inner_.settings(); }
    void setInputLen(std::int16_t n) override { inner_.setInputLen(n); }
    void setPortOpen(bool open) override { inner_.setPortOpen(open); }
    bool portOpen() const override { return inner_.portOpen(); }
    std::string input() override { return inner_.input(); }
    void output(std::string_view bytes) override {
        if (bytes.size() > 10 && bytes.front() != '\r') {
            dataLineUs.push_back(loop_.tickUs());
        }
        inner_.output(bytes);
    }
    std::vector<std::int64_t> dataLineUs;

  private:
    k9::SerialLine& inner_;
    k9::EventLoop& loop_;
};

struct Mark {
    double cpu = 0;
    std::int64_t wallUs = 0;
};

struct Figures {
    double mean = 0;
    double minGap = 0;
    double p99Gap = 0;
    double cpuShare = 0;
    double wallSeconds = 0;
    std::uintmax_t traceBytes = 0;
};

// One whole run against a fresh simulator; false when it did not complete.
bool runUpdate(k9::LocalFtpServer& server, const std::string& serial, const QString& traceDir,
               Figures& out, bool keepAwake = false) {
    QTemporaryDir dir;
    const QString link = dir.filePath("ttyK9");
    // The simulator's step log goes to a file: reading it here would cost this process time
    // that the updater does not spend in real use.
    const QString simLog = dir.filePath("k9sim.log");
    QProcess sim;
    sim.setStandardOutputFile(simLog);
    sim.start(K9SIM_PATH,
              {"--serial", QString::fromStdString(serial), "--link", link, "--answer", "no",
               "--start-ms", "300", "--reply-ms", "100", "--save-ms", "200", "--timeout", "300"});
    if (!sim.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start k9sim\n");
        return false;
    }
    for (int i = 0; i < 500 && !QFileInfo::exists(link); ++i) {
        QThread::msleep(10);
    }

    k9::QtEventLoop loop;
    k9::QtSerialLine port({{1, link.toStdString()}});
    auto timed = std::make_unique<TimedSerialLine>(port, loop);
    const TimedSerialLine& line = *timed;
    k9::test::RecordingView view;
    view.addPort(" 1");
    view.selectPort(0);
    k9::AppConfig config;
    config.ftpHost = server.hostPort();
    k9::RunServices services;
    services.serial = std::move(timed);
    services.keepAwake = keepAwake;
    k9::UpdaterCore core(loop, view, config, "bench", std::move(services));
    k9::MainController& controller = core.controller();
    controller.vars().sTempFolder = dir.path().toStdString() + "/";
    controller.state().sTempFile = "temp.qk";
    core.trace().setup({!traceDir.isEmpty(), traceDir.toStdString(), "bench"});

    Mark start{k9::bench::cpuSeconds(), loop.tickUs()};
    // The download is the server's time, not the run's: its stretch is left out.
    struct DownloadMarks final : k9::RunObserver {
        explicit DownloadMarks(k9::QtEventLoop& l) : loop(l) {}
        void stageEntered(k9::Stage stage) override {
            if (stage == k9::Stage::Download) {
                begin = {k9::bench::cpuSeconds(), loop.tickUs()};
            } else if (stage == k9::Stage::SendFile && end.wallUs == 0) {
                end = {k9::bench::cpuSeconds(), loop.tickUs()};
            }
        }
        k9::QtEventLoop& loop;
        Mark begin;
        Mark end;
    } download(loop);
    core.events().add(download);
    controller.cmdGo_Click();
    core.events().remove(download);
    const Mark end{k9::bench::cpuSeconds(), loop.tickUs()};
    sim.terminate();
    sim.waitForFinished(5000);

    const auto& t = line.dataLineUs;
    if (t.size() != static_cast<std::size_t>(kLines) ||
        controller.lastRun().end != k9::RunEnd::Updated) {
        std::fprintf(stderr, "run did not complete: %zu lines, %s\n", t.size(),
                     k9::outcomeText(controller.lastRun()).c_str());
        return false;
    }
    std::vector<double> gaps;
    for (std::size_t i = 1; i < t.size(); ++i) {
        gaps.push_back(static_cast<double>(t[i] - t[i - 1]) / 1000.0);
    }
    out.mean = std::accumulate(gaps.begin(), gaps.end(), 0.0) / gaps.size();
    std::sort(gaps.begin(), gaps.end());
    out.minGap = gaps.front();
    out.p99Gap = gaps[gaps.size() * 99 / 100];
    const double cpu = (end.cpu - start.cpu) - (download.end.cpu - download.begin.cpu);
    out.wallSeconds = static_cast<double>((end.wallUs - start.wallUs) -
                                          (download.end.wallUs - download.begin.wallUs)) /
                      1e6;
    out.cpuShare = 100.0 * cpu / out.wallSeconds;
    if (!traceDir.isEmpty()) {
        for (const std::string& file : k9::traceFiles(traceDir.toStdString())) {
            out.traceBytes = std::filesystem::file_size(file);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string serial = "K9BENCH";
    const std::string file = k9::bench::locationFile(kLines);
    k9::LocalFtpServer server({{serial, "HCNEB9K", serial}});
    server.putFile(serial, "LocationsLite.txt", file);

    k9::PrivateBus system(k9::PrivateBus::Kind::System);
    k9::DBusStandIn logind(system.address(), "");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(system.address()));
    k9::SleepInhibitor inhibitor;

    Figures plain;
    Figures traced;
    Figures inhibited;
    QTemporaryDir traces;
    if (!runUpdate(server, serial, {}, plain) ||
        !runUpdate(server, serial, traces.filePath("traces"), traced) ||
        !runUpdate(server, serial, {}, inhibited, true)) {
        return 1;
    }
    if (logind.log().size() != 2) {
        std::fprintf(stderr, "the inhibitor was not taken and let go once\n");
        return 1;
    }
    // Taking one (until logind's descriptor is here) and letting it go (until logind sees it).
    constexpr int kCycles = 50;
    QElapsedTimer clock;
    std::int64_t takeNs = 0;
    std::int64_t releaseNs = 0;
    for (int i = 0; i < kCycles; ++i) {
        clock.start();
        inhibitor.runStarted({});
        while (!inhibitor.held()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        takeNs += clock.nsecsElapsed();
        clock.start();
        inhibitor.runEnded({});
        while (logind.log().size() < static_cast<std::size_t>(4 + 2 * i)) {
            QThread::usleep(100);
        }
        releaseNs += clock.nsecsElapsed();
    }

    std::printf("sending_pace_mean: %.3f ms per line (target <= %.2f, floor %.0f)\n", plain.mean,
                kFloorMs * 1.03, kFloorMs);
    std::printf("sending_pace_over_floor: %.2f %% (target < 3)\n",
                100.0 * (plain.mean / kFloorMs - 1));
    std::printf("sending_pace_min_gap: %.3f ms (target >= %.0f)\n", plain.minGap, kFloorMs);
    std::printf("sending_pace_p99_gap: %.3f ms\n", plain.p99Gap);
    std::printf("run_cpu_excluding_download: %.2f %% of one core over %.1f s (target < 2)\n",
                plain.cpuShare, plain.wallSeconds);
    std::printf("sending_pace_mean_traced: %.3f ms per line (target <= %.2f)\n", traced.mean,
                kFloorMs * 1.03);
    std::printf("sending_pace_trace_difference: %+.2f %% (target within 0.5)\n",
                100.0 * (traced.mean / plain.mean - 1));
    std::printf("run_cpu_excluding_download_traced: %.2f %% of one core (target < 2)\n",
                traced.cpuShare);
    std::printf("trace_size_%d_lines: %ju bytes\n", kLines, traced.traceBytes);
    std::printf("sending_pace_mean_inhibited: %.3f ms per line (target <= %.2f)\n", inhibited.mean,
                kFloorMs * 1.03);
    std::printf("sending_pace_inhibitor_difference: %+.2f %% (target within 0.5)\n",
                100.0 * (inhibited.mean / plain.mean - 1));
    std::printf("run_cpu_excluding_download_inhibited: %.2f %% of one core (target < 2)\n",
                inhibited.cpuShare);
    std::printf("sleep_inhibitor_take: %.2f ms, let go: %.2f ms, on a private bus (target < 100)\n",
                static_cast<double>(takeNs) / kCycles / 1e6,
                static_cast<double>(releaseNs) / kCycles / 1e6);
    return 0;
}
