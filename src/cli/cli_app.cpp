#include "cli/cli_app.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "cli/cli_options.h"
#include "cli/port_list.h"
#include "cli/port_search.h"
#include "cli/run_report.h"
#include "cli/send_kept.h"
#include "cli/stop_signals.h"
#include "cli/terminal_view.h"
#include "config/app_config.h"
#include "config/program_vars.h"
#include "config/settings_file.h"
#include "config/settings_line.h"
#include "devices/port_lock.h"
#include "devices/qt_serial_line.h"
#include "platform/qt_event_loop.h"
#include "ports/port_discovery.h"
#include "transfer/cftp.h"
#include "transfer/ftp_settings.h"
#include "update/main_controller.h"

namespace k9 {
namespace {

constexpr std::int32_t kRedrawMs = 100;
constexpr int kTestEdition = 2;

int usageError(const std::string& what) {
    std::cerr << "k9update: " << what << '\n' << kUsageHint << '\n';
    return exitcode::kUsage;
}

ReportStyle styleFor(const CliOptions& o) {
    if (o.json) {
        return ReportStyle::Json;
    }
    if (o.quiet) {
        return ReportStyle::Quiet;
    }
    return ::isatty(STDERR_FILENO) ? ReportStyle::Live : ReportStyle::Plain;
}

// The window shows the test file only when QK.ini's test mark is set; so do we.
bool testEditionEnabled(const std::string& folder) {
    const auto text = readSettingsText(folder + "QK.ini", kIniReadLength);
    return text && parseIniText(*text).test == "t";
}

int exitCodeFor(const RunRecord& run) {
    switch (run.end) {
        case RunEnd::Updated:
            return run.locations == LocationsFate::Kept ||
                           run.locations == LocationsFate::NotReceived
                       ? exitcode::kLocationsKept
                       : exitcode::kUpdated;
        case RunEnd::NoAnswer:
            return exitcode::kNoAnswer;
        case RunEnd::ServerFailed:
            return exitcode::kServer;
        case RunEnd::PortError:
            return exitcode::kPort;
        case RunEnd::Stopped:
            return exitcode::kInterrupted;
        case RunEnd::Failed:
        case RunEnd::None:
            break;
    }
    return exitcode::kFailed;
}

std::string outcomeText(int code, MainController& controller, const MainView& view, int port) {
    const ProgramVars& vars = controller.vars();
    switch (code) {
        case exitcode::kUpdated:
            return vars.vDeviceName + " updated.";
        case exitcode::kLocationsKept:
            if (controller.lastRun().locations == LocationsFate::Kept) {
                return vars.vDeviceName + " updated. Its stored locations did not reach the " +
                       "server; they are kept in " + vars.sTempFolder +
                       controller.state().sLocationsFile;
            }
            return view.statusText();
        case exitcode::kPort:
            return "COM" + std::to_string(port) + " could not be opened.";
        default:
            return view.statusText();
    }
}

struct RunSetup {
    CliOptions options;
    AppConfig config;
    std::string folder;  // this port's working subfolder
};

int runUpdate(const RunSetup& setup) {
    const CliOptions& o = setup.options;
    const int port = o.port;
    RunReport report(styleFor(o), std::cout, std::cerr);
    Answers answers(o.yes, o.retries, ::isatty(STDIN_FILENO) != 0, std::cin, std::cerr);
    QtEventLoop loop;
    QtSerialLine serial(setup.config.ports);
    TerminalView view(report, answers, [&loop] { return loop.tickMs(); });
    view.addPort(freePortEntry(port));
    view.selectPort(0);
    view.selectFile(o.edition);
    MainController controller(loop, view, serial, setup.config,
                              [&loop, settings = ftpSettingsFor(setup.config)] {
                                  return std::make_shared<cFTP>(loop, settings);
                              });
    view.watch(controller.lastRun());
    controller.vars().sTempFolder = setup.folder;
    controller.state().sTempFile = "temp.qk";
    controller.seedRandom(
        static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));

    bool running = false;
    StopSignals stop([&] {
        if (running) {
            running = false;
            controller.cmdClose_Click();
        }
    });
    const std::unique_ptr<Timer> redraw = loop.makeTimer([&view] { view.refresh(); });
    redraw->setInterval(kRedrawMs);
    redraw->setEnabled(styleFor(o) == ReportStyle::Live);

    report.note("COM" + std::to_string(port) + " (" + setup.config.devicePath(port) +
                "): put the unit into its download mode.");
    running = true;
    controller.cmdGo_Click();
    running = false;
    redraw->setEnabled(false);
    const int code = exitCodeFor(controller.lastRun());
    report.outcome(code, outcomeText(code, controller, view, port));
    return code;
}

// --port auto: listens on every free port and keeps the one the unit speaks on.
int choosePort(RunSetup& setup, const std::string& base) {
    // Ports another k9update works on are not free, whatever the device says.
    std::vector<int> ports;
    std::vector<std::unique_ptr<PortLock>> locks;
    for (const int port : freePorts(setup.config)) {
        auto lock = std::make_unique<PortLock>(base + "COM" + std::to_string(port) + ".lock");
        if (lock->held()) {
            ports.push_back(port);
            locks.push_back(std::move(lock));
        }
    }
    if (ports.empty()) {
        std::cerr << "k9update: no free serial port to look for the unit on.\n";
        return exitcode::kPort;
    }
    if (!setup.options.quiet && !setup.options.json) {
        std::cerr << "Looking for the unit on " << ports.size()
                  << " free port(s): put it into its download mode.\n";
    }
    QtEventLoop loop;
    setup.options.port = findUnitPort(loop, setup.config, ports, kFirstRequestWaitMs);
    if (setup.options.port == kAutoPort) {
        std::cerr << "k9update: the unit did not speak on any free port.\n";
        return exitcode::kNoAnswer;
    }
    if (!setup.options.quiet) {
        RunReport(styleFor(setup.options), std::cout, std::cerr)
            .note("Found the unit on COM" + std::to_string(setup.options.port) + ".");
    }
    return exitcode::kUpdated;
}

// The configuration as the window reads it, or only the file --config names.
bool loadConfig(const CliOptions& o, const std::string& exeDir, AppConfig& config,
                std::string& error) {
    ConfigLocations where = ConfigLocations::fromEnvironment(exeDir);
    if (!o.configFile.empty()) {
        if (!std::ifstream(o.configFile)) {
            error = "cannot read the configuration file " + o.configFile;
            return false;
        }
        where.named = o.configFile;
    } else if (!where.named.empty() && !std::ifstream(where.named)) {
        error = "cannot read the configuration file " + where.named + " (" + kConfigEnvVar + ")";
        return false;
    }
    config = loadAppConfig(where);
    for (const std::string& problem : config.problems) {
        std::cerr << "k9update: " << problem << '\n';
    }
    return true;
}

}  // namespace

int runK9Update(const QStringList& arguments, const std::string& exeDir) {
    const CommandLine cl = parseCommandLine(arguments);
    if (!cl.error.empty()) {
        return usageError(cl.error);
    }
    if (cl.help) {
        std::cout << usageText();
        return exitcode::kUpdated;
    }
    if (cl.version) {
        std::cout << "k9update " << K9_VERSION << '\n';
        return exitcode::kUpdated;
    }
    RunSetup setup{cl.options, {}, {}};
    std::string error;
    if (!loadConfig(setup.options, exeDir, setup.config, error)) {
        return usageError(error);
    }
    if (setup.options.mode == CliMode::ListPorts) {
        listPorts(setup.config, setup.options.json, std::cout);
        return exitcode::kUpdated;
    }
    const std::string base = workingFolder(exeDir, setup.config.workDir);
    if (setup.options.mode == CliMode::SendKept) {
        return sendKeptLocations(setup.config, base, std::cout);
    }
    if (setup.options.edition == kTestEdition && !testEditionEnabled(base)) {
        return usageError("the test edition is not enabled in " + base + "QK.ini");
    }
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    if (setup.options.port == kAutoPort) {
        if (const int code = choosePort(setup, base); code != exitcode::kUpdated) {
            return code;
        }
    }
    // Each port has its own folder for the run's fixed file names, so units can be updated
    // side by side; a lock file beside it keeps a second process off the same port.
    setup.folder = base + "COM" + std::to_string(setup.options.port) + "/";
    std::filesystem::create_directories(setup.folder, ec);
    if (ec) {
        std::cerr << "k9update: cannot create " << setup.folder << ": " << ec.message() << '\n';
        return exitcode::kFailed;
    }
    const PortLock lock(base + "COM" + std::to_string(setup.options.port) + ".lock");
    if (!lock.held()) {
        std::cerr << "k9update: COM" << setup.options.port << " is already being updated"
                  << (lock.holder() > 0 ? " by process " + std::to_string(lock.holder()) : "")
                  << (lock.error().empty() ? "" : " (" + lock.error() + ")") << ".\n";
        return exitcode::kPort;
    }
    return runUpdate(setup);
}

}  // namespace k9
