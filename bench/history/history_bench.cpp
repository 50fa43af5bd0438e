// The history's costs: looking up a unit's last update with 10,000 records stored, writing a
// record, the pace of the data lines with the history following the run, and the window's
// start-up check against the time to the first window and the event loop's turns.

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/window_history.h"
#include "config/app_config.h"
#include "history/history_recorder.h"
#include "history/history_store.h"
#include "history/last_update_line.h"
#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "recording_view.h"
#include "ui_frm_main.h"
#include "update/device_link.h"

namespace {

constexpr int kUnits = 10;
constexpr int kRecordsPerUnit = 1000;
constexpr int kPaceLines = 300;

std::string serialOf(int unit) {
    return "K9B" + std::to_string(1000 + unit);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

k9::RunRecord updated(const std::string& serial, std::time_t when) {
    k9::RunRecord r;
    r.serialNumber = serial;
    r.end = k9::RunEnd::Updated;
    r.remoteFile = "LocationsLite.txt";
    r.edition = 0;
    r.started = when - 60;
    r.ended = when;
    r.serverFileSize = 4800;
    r.serverFileTime = when - 86400;
    return r;
}

// 10,000 records in one transaction of a second connection, as years of use leave them.
void fill(const std::string& path) {
    QElapsedTimer t;
    t.start();
    k9::HistoryStore(path, [](const std::string&) {}).runs();
    std::printf("history_first_open: %.2f ms, Qt's SQLite driver loaded and the file made\n",
                static_cast<double>(t.nsecsElapsed()) / 1e6);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(QString::fromStdString(path));
        db.open();
        QSqlQuery q(db);
        q.exec("BEGIN");
        q.prepare(
            "INSERT INTO runs (serial, started, ended, edition, remote_file, server_file_size, "
            "server_file_time, line_count, lines_sent, outcome, locations, locations_path, "
            "reason, version) VALUES (?, ?, ?, 0, 'LocationsLite.txt', 4800, ?, 120, 120, ?, "
            "'uploaded', '', '', 'bench')");
        for (int i = 0; i < kUnits * kRecordsPerUnit; ++i) {
            q.addBindValue(QString::fromStdString(serialOf(i % kUnits)));
            q.addBindValue(1700000000 + i * 600);
            q.addBindValue(1700000060 + i * 600);
            q.addBindValue(1699990000 + i * 600);
            q.addBindValue(i % 3 == 0 ? "updated" : "failed");
            q.exec();
        }
        q.exec("COMMIT");
    }
    QSqlDatabase::removeDatabase("fill");
}

void lookups(const std::string& path) {
    std::vector<double> cold;
    std::vector<double> warm;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        k9::HistoryStore store(path, [](const std::string& line) { std::puts(line.c_str()); });
        const std::string line =
            k9::lastUpdateText(store, serialOf(i % kUnits), std::time(nullptr));
        cold.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        for (int j = 0; j < 10; ++j) {
            t.restart();
            (void)store.lastUpdate(serialOf(j));
            warm.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
    }
    std::printf("history_last_update_opening: %.2f ms, %d records (target < 20)\n", median(cold),
                kUnits * kRecordsPerUnit);
    std::printf("history_last_update_open: %.3f ms, %d records (target < 20)\n", median(warm),
                kUnits * kRecordsPerUnit);

    k9::HistoryStore store(path, [](const std::string&) {});
    std::vector<double> writes;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        store.add(*k9::historyEntryFor(updated(serialOf(i % kUnits), std::time(nullptr)), "bench"));
        writes.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    std::printf("history_write: %.2f ms a record, once at the run's end (synchronous, fsync'd)\n",
                median(writes));
}

// The data lines' pace, 18 ms a line, with and without the history following the events.
double pace(bool withHistory, const std::string& path) {
    k9::QtEventLoop loop;
    k9::RunEvents events;
    k9::HistoryStore store(path, [](const std::string&) {});
    k9::test::RecordingView view;
    k9::HistoryRecorder recorder(
        store, "bench", [](const std::string&) {}, loop);
    k9::LastUpdateLine line(store, view);
    if (withHistory) {
        events.add(recorder);
        events.add(line);
    }
    events.serialNumberReceived(serialOf(1));
    std::int64_t first = 0;
    for (int i = 0; i < kPaceLines; ++i) {
        k9::Delay(loop, 18);
        if (i == 0) {
            first = loop.tickUs();
        }
        events.linesSent(i + 1, kPaceLines);
    }
    const double mean = static_cast<double>(loop.tickUs() - first) / 1000.0 / (kPaceLines - 1);
    events.runEnded(updated(serialOf(1), std::time(nullptr)));
    return mean;
}

struct Start {
    double firstWindowMs = 0;
    double longestTurnMs = 0;
};

// From making the window to its being on screen; with the check, also the longest wait
// between two ticks of a 5 ms timer while the check asks the server for every unit.
Start firstWindow(bool withCheck, const std::string& path, const std::string& host) {
    k9::QtEventLoop loop;
    k9::RunEvents events;
    k9::HistoryStore store(path, [](const std::string&) {});
    struct NoMessages final : k9::MessagePresenter {
        k9::MessageAnswer show(QWidget*, const k9::Message&) override {
            return k9::MessageAnswer::Ok;
        }
    } messages;
    QElapsedTimer t;
    t.start();
    k9::MainWindow window(messages, ".");
    k9::AppConfig config;
    config.ftpHost = host;
    std::unique_ptr<k9::WindowHistory> history;
    if (withCheck) {
        history = std::make_unique<k9::WindowHistory>(window, *window.ui().mnuSupportHistory,
                                                      window, loop, events, store, config);
    }
    window.show();
    if (history) {
        history->windowShown();
    }
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    Start s{static_cast<double>(t.nsecsElapsed()) / 1e6, 0};
    if (!history) {
        return s;
    }
    QElapsedTimer gap;
    gap.start();
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        s.longestTurnMs = std::max(s.longestTurnMs, static_cast<double>(gap.nsecsElapsed()) / 1e6);
        gap.restart();
    });
    ticks.start(5);
    while (!history->startupCheck().finished()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    if (history->startupCheck().waiting().size() != static_cast<std::size_t>(kUnits)) {
        std::fprintf(stderr, "the check found %zu of %d units waiting\n",
                     history->startupCheck().waiting().size(), kUnits);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    // The offscreen platform says so for every fixed-size window.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
        if (!text.contains(QStringLiteral("propagateSizeHints"))) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(text));
        }
    });
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath("history.db").toStdString();
    fill(path);
    lookups(path);

    std::printf(
        "history_sending_pace: %.3f ms a line with the history following the run, %.3f "
        "without (target: no change)\n",
        pace(true, path), pace(false, path));

    std::vector<k9::FtpAccount> accounts;
    for (int unit = 0; unit < kUnits; ++unit) {
        accounts.push_back({serialOf(unit), k9::ftpPasswordFor(serialOf(unit)), serialOf(unit)});
    }
    k9::LocalFtpServer server(accounts);
    for (const auto& a : accounts) {
        server.putFile(a.user, "LocationsLite.txt", std::string(5000, 'x'));
    }
    firstWindow(false, path, server.hostPort());  // fonts and styles loaded once
    std::vector<double> with;
    std::vector<double> without;
    double longest = 0;
    for (int i = 0; i < 5; ++i) {
        without.push_back(firstWindow(false, path, server.hostPort()).firstWindowMs);
        const Start s = firstWindow(true, path, server.hostPort());
        with.push_back(s.firstWindowMs);
        longest = std::max(longest, s.longestTurnMs);
    }
    std::printf(
        "history_first_window: %.1f ms with the start-up check, %.1f ms without (target "
        "< 300)\n",
        median(with), median(without));
    std::printf(
        "history_check_longest_turn: %.1f ms between turns of the loop while %d units "
        "are checked\n",
        longest, kUnits);
    return 0;
}
