#include "cli/cli_options.h"

#include <QCommandLineParser>
#include <array>

#include "update/device_link.h"

namespace k9 {
namespace {

struct ModeOption {
    const char* name;
    const char* help;
    CliMode mode;
};

// One row per mode besides the run; a new mode is a new row and a branch in the program.
constexpr std::array kModes = {
    ModeOption{"list-ports", "List the serial ports 1 to 12 and their state, then exit.",
               CliMode::ListPorts},
    ModeOption{"send-kept",
               "Send the locations kept by earlier runs to the server (no unit needed), then "
               "exit: 0 when all were sent, 6 when some stay kept.",
               CliMode::SendKept},
    ModeOption{"history", "List the runs of every unit (or of --serial), newest first, then exit.",
               CliMode::History},
    ModeOption{"check",
               "Ask the server whether a newer file waits for each unit of the history (or for "
               "--serial), one line a unit; for a weekly timer. Exit: 0 all up to date, 10 an "
               "update waits, 4 the server could not be asked.",
               CliMode::Check},
};

struct Edition {
    const char* name;
    int index;
};
constexpr std::array kEditions = {Edition{"cameras", 0}, Edition{"schools", 1}, Edition{"test", 2}};

constexpr int kMaxRetries = 100;

const char* kExitCodes = R"(
Exit codes:
  0    updated (the stored locations uploaded, or none offered)
  1    the run failed (the reason on stderr)
  2    bad usage
  3    the unit never answered
  4    the server refused the login or the download failed (--check: could not be asked)
  5    port error (absent, busy, no permission)
  6    updated, but the stored locations did not reach the server
  10   --check: a newer file waits on the server for a unit
  130  interrupted (Ctrl-C or SIGTERM: port closed, files kept)
)";

void addOptions(QCommandLineParser& p) {
    p.setApplicationDescription(
        "Updates a Sentrel K9 detector on a serial port from the server, from a terminal.");
    p.addHelpOption();
    p.addVersionOption();
    p.addOption({{"p", "port"}, "COM port number 1 to 12, or auto.", "N|auto"});
    p.addOption({{"e", "edition"}, "Location file: cameras, schools or test.", "name"});
    p.addOption({{"c", "config"}, "Read the configuration from this file only.", "file"});
    p.addOption({{"y", "yes"}, "Answer Yes to the run's questions, up to --retries times."});
    p.addOption({"retries", "How many questions --yes answers (default 2).", "N"});
    p.addOption({{"q", "quiet"}, "Print only the outcome."});
    p.addOption({"json", "Print one JSON object a line for each event."});
    for (const ModeOption& m : kModes) {
        p.addOption({m.name, m.help});
    }
    p.addOption({"forget", "Delete the runs of this unit from the history, then exit.", "serial"});
    p.addOption({"serial", "The unit --history and --check look at.", "serial"});
}

bool toInt(const QString& text, int low, int high, int& out) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

std::string readEdition(const QCommandLineParser& p, CliOptions& o) {
    const std::string edition = p.value("edition").toStdString();
    for (const Edition& e : kEditions) {
        if (edition == e.name) {
            o.edition = e.index;
        }
    }
    if (o.edition < 0) {
        return "--edition wants cameras, schools or test, not '" + edition + "'";
    }
    return {};
}

std::string checkRun(const QCommandLineParser& p, CliOptions& o) {
    if (!p.isSet("port")) {
        return "--port is missing";
    }
    const QString port = p.value("port");
    if (port == "auto") {
        o.port = kAutoPort;
    } else if (!toInt(port, 1, 12, o.port)) {
        return "--port wants a number from 1 to 12 or auto, not '" + port.toStdString() + "'";
    }
    if (!p.isSet("edition")) {
        return "--edition is missing";
    }
    return readEdition(p, o);
}

// --history, --check and --forget: the unit named, and the edition --check asks about.
std::string checkHistory(const QCommandLineParser& p, CliOptions& o) {
    const bool forget = p.isSet("forget");
    if (forget && o.mode != CliMode::Run) {
        return "only one of the modes may be given";
    }
    if (forget) {
        o.mode = CliMode::Forget;
    }
    if (o.mode != CliMode::Forget && o.mode != CliMode::History && o.mode != CliMode::Check) {
        return p.isSet("serial") ? "--serial goes with --history or --check" : "";
    }
    o.serial = p.value(forget ? "forget" : "serial").toUpper().toStdString();
    if ((forget || p.isSet("serial")) && !isValidSerialNumber(o.serial)) {
        return "a serial number is 1 to 7 letters, digits, '-' or '_', not '" + o.serial + "'";
    }
    return o.mode == CliMode::Check && p.isSet("edition") ? readEdition(p, o) : std::string();
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine cl;
    QCommandLineParser p;
    addOptions(p);
    if (!p.parse(arguments)) {
        cl.error = p.errorText().toStdString();
        return cl;
    }
    cl.help = p.isSet("help");
    cl.version = p.isSet("version");
    if (cl.help || cl.version) {
        return cl;
    }
    if (!p.positionalArguments().isEmpty()) {
        cl.error = "unexpected argument '" + p.positionalArguments().first().toStdString() + "'";
        return cl;
    }
    CliOptions& o = cl.options;
    int modes = 0;
    for (const ModeOption& m : kModes) {
        if (p.isSet(m.name)) {
            o.mode = m.mode;
            ++modes;
        }
    }
    if (modes > 1) {
        cl.error = "only one of the modes may be given";
        return cl;
    }
    if (cl.error = checkHistory(p, o); !cl.error.empty()) {
        return cl;
    }
    o.configFile = p.value("config").toStdString();
    o.yes = p.isSet("yes");
    o.quiet = p.isSet("quiet");
    o.json = p.isSet("json");
    if (o.quiet && o.json) {
        cl.error = "--quiet and --json do not go together";
        return cl;
    }
    if (p.isSet("retries") && !toInt(p.value("retries"), 0, kMaxRetries, o.retries)) {
        cl.error = "--retries wants a number from 0 to " + std::to_string(kMaxRetries);
        return cl;
    }
    if (o.mode == CliMode::Run) {
        cl.error = checkRun(p, o);
    }
    return cl;
}

std::string usageText() {
    QCommandLineParser p;
    addOptions(p);
    QString text = p.helpText();
    // Qt's first line names the program as it was called, and knows nothing of the modes.
    text.remove(0, text.indexOf('\n'));
    return "Usage: k9update --port N|auto --edition NAME [options]\n"
           "       k9update --list-ports [--json]\n"
           "       k9update --send-kept\n"
           "       k9update --history [--serial SERIAL] [--json]\n"
           "       k9update --check [--serial SERIAL] [--edition NAME]\n"
           "       k9update --forget SERIAL" +
           text.toStdString() + kExitCodes;
}

}  // namespace k9
