#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_texts.h"
#include "app/guide_window.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/updater_app.h"
#include "app_test_support.h"
#include "devices/qt_serial_line.h"
#include "file_bytes.h"
#include "platform/shell.h"
#include "pty_device.h"
#include "ui_frm_main.h"  // and the widgets it names

namespace k9 {
namespace {

using test::FakeProbe;
using test::processUntil;
using test::PtyDevice;

const QSize kFixedSize{444, 328};

// Acts on a modal window once it is on screen. The check runs on the loop that the modal
// window spins itself, so nothing here waits for time to pass.
class ModalDriver final {
  public:
    template <typename Window>
    void when(std::function<void(Window&)> act) {
        QTimer* raw = timers_.emplace_back(std::make_unique<QTimer>()).get();
        QObject::connect(raw, &QTimer::timeout, [raw, act = std::move(act)] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* window = dynamic_cast<Window*>(widget);
                if (window != nullptr && window->isVisible()) {
                    raw->stop();
                    act(*window);
                    return;
                }
            }
        });
        raw->start(0);
    }

  private:
    std::vector<std::unique_ptr<QTimer>> timers_;
};

class ScriptedMessages final : public MessagePresenter {
  public:
    MessageAnswer show(QWidget*, const Message& message) override {
        shown.push_back(message);
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    std::vector<Message> shown;
};

class RecordingShell final : public Shell {
  public:
    void openUrl(const std::string& url) override { urls.push_back(url); }
    std::vector<std::string> urls;
};

std::vector<std::string> items(const QComboBox& box) {
    std::vector<std::string> out;
    for (int i = 0; i < box.count(); ++i) {
        out.push_back(box.itemText(i).toStdString());
    }
    return out;
}

// What a guide window showed, read while it was open.
struct GuideSeen {
    QString text;
    QTextCharFormat first;  // of the first character
    QColor background;
};

GuideSeen readGuide(const QTextEdit& box) {
    QTextCursor cursor(box.document());
    cursor.setPosition(1);
    return {box.toPlainText(), cursor.charFormat(), box.palette().color(QPalette::Base)};
}

// The application on offscreen widgets, with a fake port probe (1, 3 and 12 free, 2 held),
// scripted message boxes and a shell that only records.
class AppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("bin")));
        config.webHost = "web.example";
        config.ftpHost = "127.0.0.1:1";
        config.workDir = workDir;
    }

    // Runs Form_Load, leaving the instructions with "Next" or with the close box.
    bool start(bool next = true) {
        using enum ProbeResult;
        AppServices services;
        if (!realProbe) {
            services.run.probe = std::make_shared<FakeProbe>();
            probe_ = static_cast<FakeProbe*>(services.run.probe.get());
            probe_->results = {{1, Free}, {2, InUse}, {3, Free}, {12, Free}};
        }
        services.messages = std::make_unique<ScriptedMessages>();
        messages_ = static_cast<ScriptedMessages*>(services.messages.get());
        services.shell = std::make_unique<RecordingShell>();
        shell_ = static_cast<RecordingShell*>(services.shell.get());
        services.run.serial = std::move(serial);
        app = std::make_unique<UpdaterApp>(exeDir, config, std::move(services));
        window().setOnEnd([this] { ++ends; });
        driver.when<StartDialog>([this, next](StartDialog& frmStart) {
            instructions = readGuide(frmStart.rtfStart());
            instructionsTitle = frmStart.windowTitle();
            next ? frmStart.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click()
                 : (void)frmStart.close();
        });
        return app->start();
    }

    void writeIni(const std::string& bytes) {
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(workDir)));
        test::writeBytes(workDir + "QK.ini", bytes);
    }
    std::string readIni() const { return test::readBytes(workDir + "QK.ini"); }

    MainWindow& window() { return app->window(); }
    Ui::frmMain& ui() { return window().ui(); }
    std::string selectedPort() { return ui().cboPort->currentText().toStdString(); }
    // Every line of the status stays inside its label.
    bool statusFits() {
        const QLabel& label = *ui().lblStatus;
        return QFontMetrics(label.font())
                   .boundingRect(label.rect(), Qt::TextWordWrap, label.text())
                   .height() <= label.height();
    }

    QTemporaryDir dir;
    std::string exeDir = (dir.path() + "/bin").toStdString();
    std::string workDir = (dir.path() + "/work/").toStdString();
    AppConfig config;
    std::unique_ptr<SerialLine> serial;
    ModalDriver driver;
    std::unique_ptr<UpdaterApp> app;
    FakeProbe* probe_ = nullptr;
    bool realProbe = false;  // the ports as the machine has them
    ScriptedMessages* messages_ = nullptr;
    RecordingShell* shell_ = nullptr;
    int ends = 0;
    GuideSeen instructions;
    QString instructionsTitle;
};

const char* const kGuides[] = {"K9DownloadInstructions.rtf", "UserGuide.rtf"};
const std::vector<std::string> kFiltered{" 1", "2 - In Use", " 3", " 12"};
const std::vector<std::string> kFiles{"Cameras", "Cameras & Schools"};
const std::vector<std::string> kFilesWithTest{"Cameras", "Cameras & Schools", "Test Locations"};

// One first start for everything that does not depend on the files found: the window as
// designed, its menus and its display, then the settings it saves on close.
TEST_F(AppTest, FirstStartShowsTheWindowItsMenusAndItsDisplay) {
    ASSERT_TRUE(start());
    EXPECT_EQ(instructionsTitle, QStringLiteral("Sentrel K9 Updater - Download Instructions"));
    EXPECT_EQ(instructions.text.toStdString(),
              "File in Use or Could Not Be Found (" + exeDir + "/K9DownloadInstructions.rtf)");
    EXPECT_EQ(instructions.first.foreground().color(), QColor(Qt::white));
    EXPECT_EQ(instructions.first.fontFamilies().toStringList(), QStringList{"tahoma"});
    EXPECT_DOUBLE_EQ(instructions.first.fontPointSize(), 9.0);
    EXPECT_EQ(instructions.background, QColor(Qt::black));
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().windowTitle().toStdString(),
              "Sentrel K9 Updater (v" + std::string(K9_VERSION) + ")");
    EXPECT_TRUE(ui().mnuMainFilter->isChecked());
    EXPECT_EQ(items(*ui().cboPort), kFiltered);
    EXPECT_EQ(selectedPort(), " 1");
    EXPECT_EQ(items(*ui().cboFile), kFiles);
    EXPECT_EQ(ui().cboFile->currentIndex(), 0);
    EXPECT_TRUE(ui().cboFile->isEnabled());
    EXPECT_TRUE(ui().cmdGo->isEnabled());
    EXPECT_FALSE(ui().cmdClose->isEnabled());
    EXPECT_TRUE(ui().imgK9Title->isVisible());
    EXPECT_EQ(ui().imgK9Title->pixmap().size(), QSize(300, 100));
    EXPECT_EQ(ui().lblDots->text(), QString());
    EXPECT_EQ(ui().Label3->text(), QStringLiteral("Port Closed"));
    EXPECT_TRUE(messages_->shown.empty());
    // Tab order: Start Update first, then the two lists.
    EXPECT_EQ(ui().cmdGo->nextInFocusChain(), ui().cboPort);
    EXPECT_EQ(ui().cboPort->nextInFocusChain(), ui().cboFile);

    window().flushRepaints();
    EXPECT_EQ(ui().lblStatus->text(),
              QString::fromStdString(instructionsText()).replace("\r\n", "\n"));
    // 10 points, or a little less where this machine's font is wider than the designed one:
    // all seven lines stay readable inside the label.
    const QFont statusFont = ui().lblStatus->font();
    EXPECT_LE(statusFont.pointSizeF(), 10.0);
    EXPECT_GE(statusFont.pointSizeF(), 8.0);
    EXPECT_TRUE(statusFits());
    EXPECT_FALSE(statusFont.bold());
    EXPECT_TRUE(ui().lblStatus->alignment() & Qt::AlignLeft);
    EXPECT_EQ(ui().prgb1->value(), 0);
    EXPECT_TRUE(QDir(QString::fromStdString(workDir)).exists());
    EXPECT_FALSE(QFile::exists(QString::fromStdString(workDir + "QK.ini")));

    // The window keeps its size.
    EXPECT_FALSE(window().windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window().windowFlags() & Qt::WindowMinimizeButtonHint);
    window().resize(800, 600);
    EXPECT_EQ(window().size(), kFixedSize);
    window().showMaximized();
    processUntil([] { return false; }, 5);
    EXPECT_EQ(window().size(), kFixedSize);
    EXPECT_FALSE(window().isMaximized());
    window().showNormal();
    EXPECT_EQ(window().size(), kFixedSize);
    // The lower band is there, out of sight.
    EXPECT_GE(ui().Label3->y(), ui().centralwidget->height());
    EXPECT_GE(ui().Text2->y(), ui().centralwidget->height());
    EXPECT_LE(ui().cmdGo->geometry().bottom(), ui().centralwidget->height());

    // The selected port's device shows beside the list, over no designed control.
    const auto* device = window().findChild<QLabel*>(QStringLiteral("lblPortDevice"));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->text(), QStringLiteral("COM1"));
    ui().cboPort->setCurrentIndex(1);
    EXPECT_EQ(device->text(), QStringLiteral("COM2 - in use"));
    ui().cboPort->setCurrentIndex(0);
    EXPECT_EQ(ui().cboPort->itemData(3, Qt::ToolTipRole).toString(), QStringLiteral("COM12"));
    for (const QWidget* designed : ui().centralwidget->findChildren<QWidget*>()) {
        EXPECT_TRUE(designed == device || !designed->geometry().intersects(device->geometry()))
            << designed->objectName().toStdString();
    }
    EXPECT_LE(device->geometry().bottom(), ui().centralwidget->height());

    // Web pages open through the shell.
    ui().mnuMainTroubleshooting->trigger();
    ui().mnuMainDownload->trigger();
    EXPECT_EQ(shell_->urls,
              (std::vector<std::string>{"http://web.example?p=K9CheckListGuide",
                                        "http://web.example/index.cfm?p=Software&d=type=K9"}));

    // Help shows its guide afresh each time, on the window-frame grey.
    for (int round = 0; round < 2; ++round) {
        GuideSeen help;
        driver.when<HelpDialog>([&help](HelpDialog& frmHelp) {
            help = readGuide(frmHelp.rtfHelp());
            EXPECT_EQ(frmHelp.focusWidget(),
                      frmHelp.findChild<QPushButton*>(QStringLiteral("cmdOK")));
            frmHelp.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        });
        ui().MnuMainHelp->trigger();
        EXPECT_EQ(help.text.toStdString(),
                  "File in Use or Could Not Be Found (" + exeDir + "/UserGuide.rtf)");
        EXPECT_EQ(help.first.foreground().color(), QColor(Qt::white));
        EXPECT_EQ(help.background, QColor(100, 100, 100));
    }

    // The busy pointer does not nest.
    for (const bool busy : {true, true, false, false}) {
        window().setBusyPointer(busy);
        const QCursor* pointer = QApplication::overrideCursor();
        EXPECT_EQ(pointer != nullptr && pointer->shape() == Qt::WaitCursor, busy);
        EXPECT_EQ(pointer == nullptr, !busy);
    }

    // Status and progress reach the screen coalesced.
    int barChanges = 0;
    QObject::connect(ui().prgb1, &QProgressBar::valueChanged, [&barChanges] { ++barChanges; });
    for (int i = 1; i <= 2000; ++i) {
        window().setProgress(i % 101);
        window().setStatusText("Downloading Data... " + std::to_string(i) + " % \r\nSending");
    }
    // Nothing painted yet, but the logic reads back what it set.
    EXPECT_EQ(barChanges, 0);
    EXPECT_EQ(window().progress(), 2000 % 101);
    const QString last = QStringLiteral("Downloading Data... 2000 % \nSending");
    ASSERT_TRUE(processUntil([&] { return ui().lblStatus->text() == last; }));
    EXPECT_EQ(ui().prgb1->value(), 2000 % 101);
    EXPECT_EQ(barChanges, 1);

    // The progress bar is red on white.
    window().setProgress(50);
    window().flushRepaints();
    const QImage image = ui().prgb1->grab().toImage();
    const int y = image.height() / 2;
    EXPECT_EQ(QColor(image.pixel(image.width() / 4, y)), QColor(255, 0, 49));
    EXPECT_EQ(QColor(image.pixel(image.width() * 7 / 8, y)), QColor(255, 255, 255));

    // A longer status than the instructions (notes of kept locations below them) shrinks to
    // fit, bold as the logic asks.
    window().setStatusBold(true);
    window().setStatusText(instructionsText() +
                           "\r\n1 kept location of K9A0001, waiting since 2026-11-30 00:53, goes "
                           "to the server with that unit's next update.");
    window().flushRepaints();
    EXPECT_LT(ui().lblStatus->font().pointSizeF(), 10.0);
    EXPECT_TRUE(ui().lblStatus->font().bold());
    EXPECT_TRUE(statusFits());

    // The filter menu toggles its mark and rebuilds the list, probing only when turned on.
    const std::size_t probes = probe_->probed.size();
    EXPECT_EQ(probes, 12u);
    ui().mnuMainFilter->trigger();
    EXPECT_FALSE(ui().mnuMainFilter->isChecked());
    EXPECT_EQ(items(*ui().cboPort), test::kAllPorts);
    EXPECT_EQ(selectedPort(), " 1");
    EXPECT_EQ(probe_->probed.size(), probes);
    probe_->results = {{2, ProbeResult::InUse}};
    ui().mnuMainFilter->trigger();
    EXPECT_TRUE(ui().mnuMainFilter->isChecked());
    EXPECT_EQ(items(*ui().cboPort), std::vector<std::string>{"2 - In Use"});
    EXPECT_EQ(ui().cboPort->currentIndex(), -1);
    ASSERT_EQ(messages_->shown.size(), 1u);
    EXPECT_EQ(messages_->shown[0].title, "Sentrel K9 Updater - Com Port Error");
    EXPECT_EQ(probe_->probed.size(), probes + 12);

    window().close();
    EXPECT_EQ(readIni(), "**1*\r\n");
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(window().isVisible());
}

// With the guides beside the program, which show white on their background.
TEST_F(AppTest, SettingsFileIsReadAndWrittenBackAndGuidesBesideTheProgramAreShown) {
    for (const char* name : kGuides) {
        ASSERT_TRUE(QFile::copy(QStringLiteral(K9_DOCS_DIR "/") + name,
                                QString::fromStdString(exeDir + "/") + name));
    }
    struct Case {
        const char* ini;
        bool filter;
        std::string port;
        std::vector<std::string> files;
        const char* written;
    };
    const std::vector<Case> cases{
        {"*3*0*t*\r\n", false, " 3", kFilesWithTest, "*3*0*t*\r\n"},
        // No port saved: the first entry.
        {"**1*\r\n", true, " 1", kFiles, "*1*1*\r\n"},
        // The test mark is case-sensitive and not carried over in upper case.
        {"*3*0*T*\r\n", false, " 3", kFiles, "*3*0*\r\n"},
        {"*12*0*\r\n", false, " 12", kFiles, "*12*0*\r\n"},
        // A saved port that is no longer listed leaves the filter's choice.
        {"*5*1*\r\n", true, " 1", kFiles, "*1*1*\r\n"},
        {"", true, " 1", kFiles, "*1*1*\r\n"},
    };
    for (const auto& c : cases) {
        writeIni(c.ini);
        ASSERT_TRUE(start()) << c.ini;
        EXPECT_EQ(ui().mnuMainFilter->isChecked(), c.filter) << c.ini;
        EXPECT_EQ(items(*ui().cboPort), c.filter ? kFiltered : test::kAllPorts) << c.ini;
        EXPECT_EQ(selectedPort(), c.port) << c.ini;
        EXPECT_EQ(items(*ui().cboFile), c.files) << c.ini;
        EXPECT_EQ(ui().cboFile->currentIndex(), 0) << c.ini;
        EXPECT_TRUE(messages_->shown.empty()) << c.ini;
        window().close();
        EXPECT_EQ(readIni(), c.written) << c.ini;
        app.reset();
    }
    EXPECT_FALSE(instructions.text.startsWith(QStringLiteral("File in Use")));
    EXPECT_GT(instructions.text.size(), 200);
    EXPECT_EQ(instructions.first.foreground().color(), QColor(Qt::white));
    EXPECT_EQ(instructions.first.fontFamilies().toStringList(), QStringList{"tahoma"});
}

// Instructions closed without "Next" end before the working folder is made; a folder that
// cannot be made ends the program with a message.
TEST_F(AppTest, StartsThatEndBeforeTheWindowShows) {
    EXPECT_FALSE(start(false));
    EXPECT_FALSE(window().isVisible());
    EXPECT_FALSE(QDir(QString::fromStdString(workDir)).exists());
    EXPECT_TRUE(probe_->probed.empty());
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_EQ(ends, 0);
    app.reset();

    ASSERT_TRUE(std::ofstream((dir.path() + "/blocker").toStdString()));
    config.workDir = (dir.path() + "/blocker/work").toStdString();
    EXPECT_FALSE(start());
    ASSERT_EQ(messages_->shown.size(), 1u);
    EXPECT_EQ(messages_->shown[0].text, folderFailureText(config.workDir));
    EXPECT_EQ(messages_->shown[0].title, "Sentrel K9 Error");
    EXPECT_EQ(messages_->shown[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(window().isVisible());
}

// Damaged files on the PC: the program starts, stays usable and leaves clean files behind.
// Each case is also a row of the fault matrix.
TEST_F(AppTest, DamagedLocalFilesLeaveTheProgramUsable) {
    const std::string deep = "{\\rtf1 " + std::string(200000, '{') + "deep";
    const std::string hostile = "{\\rtf1\\ansi " + std::string(100000, '\\') + "\\u-99999999999" +
                                "\\'zz{\\*\\pict " + std::string(3000000, 'f') + "}}}}}{{{";
    const auto guides = [this](const std::string& bytes) {
        for (const char* name : kGuides) {
            std::ofstream(exeDir + "/" + name) << bytes;
        }
    };
    struct Case {
        std::string scenario;
        std::function<void()> arrange;
        std::string written;
    };
    const std::vector<Case> cases{
        {"settings file of binary junk",
         [&] { writeIni(std::string("\0\xff*\x01\x02*\x80\0\n\r\xfe", 12)); }, "*1*1*\r\n"},
        {"settings file of 32 MB", [&] { writeIni("*3*0*" + std::string(32 << 20, 'x')); },
         "*3*0*\r\n"},
        {"guides nested 200,000 deep", [&] { guides(deep); }, "*1*1*\r\n"},
        {"guides of hostile control words", [&] { guides(hostile); }, "*1*1*\r\n"},
    };
    std::ofstream table("fault-matrix-local.txt");
    for (const auto& c : cases) {
        c.arrange();
        ASSERT_TRUE(start()) << c.scenario;
        EXPECT_TRUE(window().isVisible()) << c.scenario;
        EXPECT_TRUE(messages_->shown.empty()) << c.scenario;
        EXPECT_TRUE(ui().cmdGo->isEnabled()) << c.scenario;
        driver.when<HelpDialog>([](HelpDialog& frmHelp) {
            frmHelp.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
        });
        ui().MnuMainHelp->trigger();
        window().close();
        EXPECT_EQ(readIni(), c.written) << c.scenario;
        const std::string outcome =
            "starts, Help opens, QK.ini rewritten as " + c.written.substr(0, c.written.size() - 2);
        table << "local | " << c.scenario << " | " << (HasFailure() ? "FAILED" : outcome) << "\n";
        app.reset();
        QFile::remove(QString::fromStdString(workDir + "QK.ini"));
        for (const char* name : kGuides) {
            QFile::remove(QString::fromStdString(exeDir + "/" + name));
        }
    }
}

// Kept when the configuration asks for it, or when chosen from the menu at an earlier start.
TEST_F(AppTest, SupportTraceIsKeptWhenConfiguredOrChosenBefore) {
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + "/prefs");
    for (const auto& [configured, choose, kept] :
         {std::tuple{true, false, true}, {false, true, false}, {false, false, true}}) {
        config.trace = configured;
        ASSERT_TRUE(start());
        EXPECT_EQ(ui().mnuSupportKeepTrace->isChecked(), kept) << configured << choose;
        if (choose) {
            ui().mnuSupportKeepTrace->trigger();
        }
        app.reset();
    }
}

TEST_F(AppTest, ExitDuringARunClosesThePortSavesAndEnds) {
    PtyDevice pty;
    config.ports = {{1, pty.slavePath()}};
    serial = std::make_unique<QtSerialLine>(config.ports);
    const auto* port = static_cast<QtSerialLine*>(serial.get());
    ASSERT_TRUE(start());
    ASSERT_EQ(selectedPort(), " 1");

    // Exit is chosen while the run waits for the unit.
    bool sawRunning = false;
    QTimer::singleShot(0, [&] {
        sawRunning = port->portOpen() && ui().cmdClose->isEnabled();
        ui().MnuMainExit->trigger();
    });
    ui().cmdGo->click();

    EXPECT_TRUE(sawRunning);
    EXPECT_FALSE(port->portOpen());
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(window().isVisible());
    EXPECT_EQ(readIni(), "*1*1*\r\n");
    EXPECT_TRUE(messages_->shown.empty());
    EXPECT_TRUE(app->controller().state().blnStopped);
}

// The user's port outlives its unplugging: selected again when it comes back, saved at close
// while it is away.
TEST_F(AppTest, AChosenPortIsRememberedWhileItIsUnplugged) {
    PtyDevice pty;
    const std::string link = dir.path().toStdString() + "/ttyK9";
    config.ports = {{1, link}};
    realProbe = true;
    for (const bool back : {true, false}) {
        SCOPED_TRACE(back);
        std::filesystem::create_symlink(pty.slavePath(), link);
        ASSERT_TRUE(start());
        ASSERT_EQ(selectedPort(), " 1");
        emit ui().cboPort->activated(0);
        std::filesystem::remove(link);
        EXPECT_TRUE(processUntil([&] { return ui().cboPort->count() == 0; }));
        const QString tip = window().findChild<QLabel*>("lblPortDevice")->toolTip();
        EXPECT_TRUE(tip.contains("COM1 is not plugged in")) << tip.toStdString();
        if (back) {
            std::filesystem::create_symlink(pty.slavePath(), link);
            EXPECT_TRUE(processUntil([&] { return selectedPort() == " 1"; }));
            std::filesystem::remove(link);
        }
        window().close();
        // Closed while unplugged: its number is kept all the same.
        EXPECT_EQ(readIni(), "*1*1*\r\n");
        app.reset();
        std::filesystem::remove(workDir + "QK.ini");
    }
}

TEST(MessageBoxes, IconButtonsTitleAndLineBreaks) {
    ModalDriver driver;
    QtMessagePresenter presenter;
    struct Seen {
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    } seen;
    const auto show = [&](const Message& message, QMessageBox::StandardButton click) {
        driver.when<QMessageBox>([&seen, click](QMessageBox& box) {
            seen = {box.windowTitle(), box.text(), box.icon(), box.standardButtons()};
            box.button(click)->click();
        });
        return presenter.show(nullptr, message);
    };
    EXPECT_EQ(show(Message{"one\r\ntwo", ""}, QMessageBox::Ok), MessageAnswer::Ok);
    EXPECT_EQ(seen.title, QStringLiteral("Sentrel K9 Updater"));
    EXPECT_EQ(seen.text, QStringLiteral("one\ntwo"));
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    EXPECT_EQ(show(Message{"Retry?", "K9 updating unsuccessful", MessageIcon::Question,
                           MessageButtons::YesNo},
                   QMessageBox::Yes),
              MessageAnswer::Yes);
    EXPECT_EQ(seen.title, QStringLiteral("K9 updating unsuccessful"));
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);

    show(Message{"x", "Sentrel Updater", MessageIcon::Exclamation}, QMessageBox::Ok);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
}

}  // namespace
}  // namespace k9
