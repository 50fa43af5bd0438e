// k9update against the simulator on a pseudo-terminal and a local FTP server, watched through
// its JSON events: the CPU of the whole run and the pace of the data lines.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <fstream>

#include "bench_common.h"
#include "local_ftp_server.h"

namespace {

constexpr int kLines = 2000;
constexpr double kFloorMs = 18.0;

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const std::string serial = "K9BENCH";
    const std::string file = k9::bench::locationFile(kLines);
    k9::LocalFtpServer server({{serial, "HCNEB9K", serial}});
    server.putFile(serial, "LocationsLite.txt", file);

    QTemporaryDir dir;
    const QString link = dir.filePath("ttyK9");
    const QString conf = dir.filePath("k9.conf");
    std::ofstream(conf.toStdString())
        << "ftp_host = " << server.hostPort() << "\nwork_dir = " << dir.path().toStdString()
        << "/work\n[ports]\nCOM1 = " << link.toStdString() << "\n";
    QProcess sim;
    sim.setStandardOutputFile(dir.filePath("k9sim.log"));
    sim.start(K9SIM_PATH,
              {"--serial", QString::fromStdString(serial), "--link", link, "--answer", "no",
               "--start-ms", "300", "--reply-ms", "100", "--save-ms", "200", "--timeout", "300"});
    if (!sim.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start k9sim\n");
        return 1;
    }
    for (int i = 0; i < 500 && !QFileInfo::exists(link); ++i) {
        QThread::msleep(10);
    }

    QProcess cli;
    QElapsedTimer clock;
    const double cpuBefore = k9::bench::cpuSeconds(RUSAGE_CHILDREN);
    clock.start();
    cli.start(K9UPDATE_PATH, {"--config", conf, "--port", "1", "--edition", "cameras", "--json"});
    qint64 sendingMs = -1;
    qint64 sentMs = -1;
    QByteArray pending;
    while (cli.state() != QProcess::NotRunning || cli.bytesAvailable() > 0) {
        cli.waitForReadyRead(100);
        pending += cli.readAllStandardOutput();
        for (qsizetype nl; (nl = pending.indexOf('\n')) >= 0; pending.remove(0, nl + 1)) {
            const QByteArray event = pending.left(nl);
            if (event.contains("\"event\":\"stage\",\"stage\":6")) {
                sendingMs = clock.elapsed();
            } else if (event.contains("\"percent\":75,")) {
                sentMs = clock.elapsed();
            }
        }
    }
    cli.waitForFinished(-1);
    const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
    const double cpu = k9::bench::cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    sim.terminate();
    sim.waitForFinished(5000);
    if (cli.exitCode() != 0 || sendingMs < 0 || sentMs < 0) {
        std::fprintf(stderr, "k9update run did not complete: exit %d\n", cli.exitCode());
        return 1;
    }
    // From the stage's first event to 75 %, set as the last line has gone: counting the lines
    // is in it too, so this is an upper bound of the pace.
    const double pace = static_cast<double>(sentMs - sendingMs) / kLines;
    std::printf("k9update_sending_pace: %.3f ms per line (target <= %.2f, floor %.0f)\n", pace,
                kFloorMs * 1.03, kFloorMs);
    std::printf(
        "k9update_run_cpu: %.2f %% of one core over %.1f s, download included (target < 2)\n",
        100.0 * cpu / wall, wall);
    return 0;
}
