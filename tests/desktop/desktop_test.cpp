#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <memory>
#include <optional>

#include "app_test_support.h"
#include "desktop/done_notifier.h"
#include "desktop/sleep_inhibitor.h"
#include "desktop/taskbar_progress.h"
#include "private_bus.h"

namespace k9 {
namespace {

using test::processUntil;

// Long enough for an answer that should not come.
void processAWhile() {
    processUntil([] { return false; }, 200);
}

RunRecord ended(RunEnd end, std::string reason = {}) {
    RunRecord record;
    record.end = end;
    record.reason = std::move(reason);
    return record;
}

const std::string kInhibit = R"(Inhibit ["sleep:idle:handle-lid-switch", "Sentrel K9 Updater", )"
                             R"("Updating the K9: keep it connected", "block"])";

TEST(SleepInhibitor, HoldsOneInhibitorFromTheStartToEachWayARunEnds) {
    PrivateBus system(PrivateBus::Kind::System);
    DBusStandIn logind(system.address(), "");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(system.address()));
    // No end: the program closed mid-run.
    const std::vector<std::optional<RunEnd>> ends{RunEnd::Updated,  RunEnd::Failed,
                                                  RunEnd::Stopped,  RunEnd::PortError,
                                                  RunEnd::NoAnswer, std::nullopt};
    std::size_t calls = 0;
    for (const std::optional<RunEnd>& end : ends) {
        const std::string row = end ? std::to_string(static_cast<int>(*end)) : "closed";
        std::vector<std::string> notes;
        auto inhibitor =
            std::make_unique<SleepInhibitor>([&](const std::string& n) { notes.push_back(n); });
        inhibitor->runStarted(RunStart{});
        ASSERT_TRUE(processUntil([&] { return inhibitor->held(); }, 5000)) << row;
        ++calls;
        if (end) {
            inhibitor->runEnded(ended(*end));
            EXPECT_FALSE(inhibitor->held()) << row;
        } else {
            inhibitor.reset();
        }
        // Let go by the end, with the inhibitor object still there when the run ended.
        ASSERT_TRUE(processUntil([&] { return logind.log().size() == 2 * calls; }, 5000)) << row;
        EXPECT_EQ(logind.log()[2 * calls - 2], kInhibit) << row;
        EXPECT_EQ(logind.log()[2 * calls - 1], "Released [" + std::to_string(calls) + "]") << row;
        EXPECT_TRUE(notes.empty()) << row;
    }
}

TEST(SleepInhibitor, WithoutBusOrLogindSaysSoOnceAndTheRunGoesOn) {
    PrivateBus empty(PrivateBus::Kind::System);  // a bus where nobody answers for logind
    for (const std::string& address :
         {std::string("unix:path=/nonexistent/bus"), empty.address()}) {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(address));
        std::vector<std::string> notes;
        SleepInhibitor inhibitor([&](const std::string& n) { notes.push_back(n); });
        inhibitor.runStarted(RunStart{});
        ASSERT_TRUE(processUntil([&] { return !notes.empty(); }, 5000)) << address;
        inhibitor.runEnded(ended(RunEnd::Updated));
        processAWhile();
        EXPECT_EQ(notes.size(), 1u) << address;
        EXPECT_EQ(notes[0].rfind("sleep not inhibited: ", 0), 0u) << notes[0];
        EXPECT_FALSE(inhibitor.held());
    }
}

TEST(DoneNotifier, TellsEachRunThatEndedWhileTheWindowWasNotActiveAndClickRaisesIt) {
    PrivateBus session(PrivateBus::Kind::Session);
    DBusStandIn service("", session.address());
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(session.address()));
    bool active = false;
    int raised = 0;
    DoneNotifier notifier([&] { return active; }, [&] { ++raised; });
    const std::string head = R"(Notify ["Sentrel K9 Updater", 0, "k9updater", )";
    const std::string tail = R"(["default", "Show"], {"desktop-entry": "k9updater"}, -1])";
    struct Row {
        RunRecord record;
        bool active;
        std::string notice;  // empty: none
    };
    const std::vector<Row> rows{
        {ended(RunEnd::Updated), false, R"("Sentrel K9 updated.", "", )"},
        {ended(RunEnd::Updated), true, ""},
        {ended(RunEnd::NoAnswer, "the unit never answered\r\nat stage 1"), false,
         R"("Sentrel K9 updating unsuccessful", "the unit never answered", )"},
        {ended(RunEnd::Stopped), false, R"("Sentrel K9 update stopped.", "", )"},
        {ended(RunEnd::Failed, "no such file"), true, ""},
    };
    std::vector<std::string> expected;
    for (const Row& row : rows) {
        active = row.active;
        notifier.runEnded(row.record);
        if (row.notice.empty()) {
            processAWhile();
        } else {
            expected.push_back(head + row.notice + tail);
        }
        processUntil([&] { return service.log().size() >= expected.size(); }, 5000);
        EXPECT_EQ(service.log(), expected) << row.notice;
    }
    // A click on another program's notice does nothing; one on ours brings the window back.
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(session.address()),
                                                        QStringLiteral("clicker"));
    for (const quint32 id : {99u, 1u}) {
        QDBusMessage click = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.k9.StandIn"),
            QStringLiteral("Invoke"));
        click << id << QStringLiteral("default");
        ASSERT_EQ(bus.call(click).type(), QDBusMessage::ReplyMessage);
    }
    ASSERT_TRUE(processUntil([&] { return raised > 0; }, 5000));
    processAWhile();
    EXPECT_EQ(raised, 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("clicker"));

    // Without a notification service, or any session bus: nothing, and no failure.
    const PrivateBus bare(PrivateBus::Kind::Session);
    for (const std::string& address : {bare.address(), std::string("unix:path=/nonexistent")}) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(address));
        DoneNotifier alone([] { return false; }, [] {});
        alone.runEnded(ended(RunEnd::Updated));
        processAWhile();
    }
    EXPECT_EQ(service.log().size(), expected.size());
}

TEST(TaskbarProgress, ShowsEachNewPercentAndClearsAtTheEnd) {
    PrivateBus session(PrivateBus::Kind::Session);
    DBusStandIn dock("", session.address());
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(session.address()));
    TaskbarProgress taskbar([] { return std::int64_t{0}; });
    taskbar.runStarted(RunStart{});
    taskbar.stageEntered(Stage::SendFile);
    taskbar.linesSent(50, 100);
    taskbar.linesSent(51, 100);  // still 50 %
    taskbar.runEnded(ended(RunEnd::Updated));
    const std::string entry = R"(Update ["application://k9updater.desktop", {"progress": )";
    const std::vector<std::string> expected{entry + R"(0.0, "progress-visible": true}])",
                                            entry + R"(0.25, "progress-visible": true}])",
                                            entry + R"(0.5, "progress-visible": true}])",
                                            entry + R"(0.0, "progress-visible": false}])"};
    processUntil([&] { return dock.log().size() >= expected.size(); }, 5000);
    EXPECT_EQ(dock.log(), expected);
}

}  // namespace
}  // namespace k9
