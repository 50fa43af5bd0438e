// The history in the window, offscreen: the line under the status text once the serial number
// arrives, the check at start-up, and Help > "Update History...".
#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QTableWidget>
#include <QTimer>

#include "app/history_dialog.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/window_history.h"
#include "app_test_support.h"
#include "config/app_config.h"
#include "file_bytes.h"
#include "history_test_support.h"
#include "hooked_loop.h"
#include "local_ftp_server.h"
#include "platform/qt_event_loop.h"
#include "ui_frm_main.h"

namespace k9 {
namespace {

using namespace test;

const std::string kSerial = "K9WIN01";
constexpr std::time_t kServed = 1793620800;  // 2 November 2026, 12:00 UTC

class NoMessages final : public MessagePresenter {
  public:
    MessageAnswer show(QWidget*, const Message&) override { return MessageAnswer::Ok; }
};

class HistoryWindowTest : public HistoryTest {
  protected:
    static void SetUpTestSuite() {
        server_ = std::make_unique<LocalFtpServer>(
            std::vector<FtpAccount>{{kSerial, "10NIW9K", kSerial}});
        server_->putFile(kSerial, "LocationsLite.txt", std::string(4800, 'x'));
        setModified(server_->pathOf(kSerial, "LocationsLite.txt"), kServed + 7 * 86400);
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        store_ = std::make_unique<HistoryStore>(path_, noter());
        store_->add(*historyEntryFor(
            unitRun(kSerial, RunEnd::Updated, kServed + 3600, kServed, 4800), "1.0.0"));
        window_ = std::make_unique<MainWindow>(messages_, ".");
    }
    std::unique_ptr<WindowHistory> history(const std::string& host, bool checkAtStart = true) {
        AppConfig config;
        config.ftpHost = host;
        config.checkAtStart = checkAtStart;
        return std::make_unique<WindowHistory>(*window_, *window_->ui().mnuSupportHistory, *window_,
                                               loop_, events_, *store_, config);
    }
    std::string aside() const {
        const auto* label = window_->findChild<QLabel*>(QStringLiteral("lblAside"));
        return label->isVisibleTo(window_.get()) ? label->text().toStdString() : "";
    }

    inline static std::unique_ptr<LocalFtpServer> server_;
    NoMessages messages_;
    HookedLoop<QtEventLoop> loop_;
    RunEvents events_;
    std::unique_ptr<HistoryStore> store_;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(HistoryWindowTest, StartupCheckSaysWhenANewerFileWaits) {
    struct Row {
        const char* name;
        std::string host;
        bool runStartsDuringIt;
        std::string aside;
    };
    const Row rows[] = {
        {"a newer file", server_->hostPort(), false,
         "A newer Cameras database waits on the server for K9WIN01."},
        {"no server", "127.0.0.1:1", false, ""},
        // The run has the line to itself: the check ends and shows nothing.
        {"a run starts inside the check", server_->hostPort(), true, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        window_->setStatusAside("");
        auto h = history(row.host);
        loop_.onYield = [&](int) {
            if (row.runStartsDuringIt && h->startupCheck().running()) {
                events_.runStarted(RunStart{});
            }
        };
        h->windowShown();
        EXPECT_FALSE(h->startupCheck().running());  // never inside the call
        ASSERT_TRUE(processUntil([&] { return h->startupCheck().finished(); }, 5000));
        EXPECT_EQ(aside(), row.aside);
    }
    loop_.onYield = nullptr;
    // Turned off, it never begins.
    auto off = history(server_->hostPort(), false);
    off->windowShown();
    QElapsedTimer waited;
    waited.start();
    processUntil([&] { return waited.elapsed() > StartupCheck::kStartDelayMs + 500; }, 100000);
    EXPECT_FALSE(off->startupCheck().finished());
}

TEST_F(HistoryWindowTest, LineAfterTheSerialNumberAndTheHistoryWindow) {
    auto h = history(server_->hostPort(), false);
    events_.serialNumberReceived(kSerial);
    EXPECT_EQ(aside().rfind("Last updated 2 November 2026 (Cameras), ", 0), 0u) << aside();
    events_.runStarted(RunStart{});
    EXPECT_EQ(aside(), "");

    bool shown = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = window_->findChild<HistoryDialog*>();
        ASSERT_NE(dialog, nullptr);
        shown = true;
        EXPECT_EQ(dialog->tblHistory().rowCount(), 1);
        EXPECT_EQ(dialog->tblHistory().item(0, 1)->text().toStdString(), kSerial);
        dialog->cmdCopy_Click();
        dialog->accept();
    });
    window_->ui().mnuSupportHistory->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(),
              tableText(historyTable(store_->runs())));
}

}  // namespace
}  // namespace k9
