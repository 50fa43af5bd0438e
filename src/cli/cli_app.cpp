#include "cli/cli_app.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "assembly/updater_core.h"
#include "cli/cli_options.h"
#include "cli/history_commands.h"
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
#include "platform/qt_event_loop.h"
#include "platform/runtime_error.h"
#include "ports/port_advice.h"
#include "ports/port_discovery.h"
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

struct RunSetup {
    CliOptions options;
    AppConfig config;
    std::string folder;  // this port's working subfolder
};

int runUpdate(const RunSetup& setup) {
    const CliOptions& o = setup.options;
    const int port = o.port;
    QtEventLoop loop;
    const ReportStyle style = styleFor(o);
    RunReport report(style, std::cout, std::cerr, [&loop] { return loop.tickMs(); });
    report.setPortName("COM" + std::to_string(port) + " (" + setup.config.devicePath(port) + ")");
    report.setPortCause([&setup](int p) { return portOpenCause(setup.config.devicePath(p)); });
    Answers answers(o.yes, o.retries, ::isatty(STDIN_FILENO) != 0, std::cin, std::cerr);
    TerminalView view(report, answers);
    view.addPort(freePortEntry(port));
    view.selectPort(0);
    view.selectFile(o.edition);
    UpdaterCore core(loop, view, setup.config, K9_VERSION);
    core.events().add(report);
    MainController& controller = core.controller();
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
    const std::unique_ptr<Timer> redraw = loop.makeTimer([&report] { report.tick(); });
    redraw->setInterval(kRedrawMs);
    redraw->setEnabled(style != ReportStyle::Quiet);

    running = true;
    controller.cmdGo_Click();
    running = false;
    redraw->setEnabled(false);
    core.flushHistory();
    core.events().remove(report);
    return exitCodeFor(controller.lastRun());
}

// --port auto: listens on every free port and keeps the one the unit speaks on.
int choosePort(RunSetup& setup, const std::string& base) {
    // Ports another k9update works on are not free, whatever the device says.
    std::vector<int> ports;
    std::vector<std::unique_ptr<PortLock>> locks;
    for (const int port : freePorts(setup.config)) {
        auto lock = lockPort(base, port);
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
        RunReport(styleFor(setup.options), std::cout, std::cerr, [] {
            return std::int64_t{0};
        }).note("Found the unit on COM" + std::to_string(setup.options.port) + ".");
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
    if (isHistoryMode(setup.options.mode)) {
        return runHistoryCommand(setup.options, setup.config, std::cout, std::cerr);
    }
    const std::string base = workingFolder(exeDir, setup.config.workDir);
    if (setup.options.mode == CliMode::SendKept) {
        return sendKeptLocations(setup.config, base, std::cout);
    }
    if (setup.options.edition == kTestEdition && !testEditionEnabled(base)) {
        return usageError("the test edition is not enabled in " + base + "QK.ini");
    }
    try {
        preparePrivateFolder(base, setup.config.workDir.empty());
    } catch (const RuntimeError& e) {
        std::cerr << "k9update: cannot create " << base << ": " << e.description() << '\n';
        return exitcode::kFailed;
    }
    if (setup.options.port == kAutoPort) {
        if (const int code = choosePort(setup, base); code != exitcode::kUpdated) {
            return code;
        }
    }
    // Each port has its own folder for the run's fixed file names, so units can be updated
    // side by side; a lock file beside it keeps a second process off the same port.
    setup.folder = portFolder(base, setup.options.port);
    try {
        preparePrivateFolder(setup.folder, true);
    } catch (const RuntimeError& e) {
        std::cerr << "k9update: cannot create " << setup.folder << ": " << e.description() << '\n';
        return exitcode::kFailed;
    }
    const std::unique_ptr<PortLock> lock = lockPort(base, setup.options.port);
    if (!lock->held()) {
        std::cerr << "k9update: COM" << setup.options.port << " is already being updated"
                  << (lock->holder() > 0 ? " by process " + std::to_string(lock->holder()) : "")
                  << (lock->error().empty() ? "" : " (" + lock->error() + ")") << ".\n";
        return exitcode::kPort;
    }
    const int code = runUpdate(setup);
    if (code == exitcode::kPort) {
        // A port that never opened leaves no folder behind (only an empty one goes).
        std::error_code ignored;
        std::filesystem::remove(setup.folder, ignored);
    }
    return code;
}

}  // namespace k9
