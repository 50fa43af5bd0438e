#include "controller_harness.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "file_bytes.h"
#include "transfer/cftp.h"

namespace k9::test {
namespace {

std::string freshFolder() {
    static std::atomic<int> counter{0};
    const auto dir = std::filesystem::temp_directory_path() /
                     ("k9_run_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string() + "/";
}

// No machine behind the port numbers: a failed open says only what the run says.
class NoProbe final : public PortProbe {
  public:
    ProbeResult probe(int) override { return ProbeResult::Absent; }
};

}  // namespace

ControllerHarness::ControllerHarness(VirtualEventLoop& l, SerialLine& serial, std::string ftpHost,
                                     FtpClientFactory factory)
    : loop(l), workDir_(freshFolder()) {
    AppConfig config;
    config.ftpHost = std::move(ftpHost);
    if (!factory) {
        factory = [this] { return std::make_shared<cFTP>(loop); };
    }
    RunServices services;
    // Borrowed: the test owns the line.
    services.serial = std::shared_ptr<SerialLine>(&serial, [](SerialLine*) {});
    services.probe = std::make_shared<NoProbe>();
    services.makeFtpClient = std::move(factory);
    // The machine's own buses stay out of the tests.
    services.keepAwake = false;
    services.historyPath.clear();
    core_ = std::make_unique<UpdaterCore>(loop, view, config, "test", std::move(services));
    controller().vars().sTempFolder = workDir_;
    controller().state().sTempFile = "temp.qk";
    controller().seedRandom(1);
    for (const char* entry : {" 1", " 2", " 3"}) {
        view.addPort(entry);
    }
    view.selectPort(0);
    view.selectFile(0);
    for (const Control on : {Control::Go, Control::PortList, Control::FileList}) {
        view.setEnabled(on, true);
    }
    view.setCaption(Caption::PortState, "Port Closed");
}

ControllerHarness::~ControllerHarness() {
    core_.reset();
    std::filesystem::remove_all(workDir_);
}

std::string ControllerHarness::readWorkFile(const std::string& name) const {
    return readBytes(workDir_ + name);
}

bool ControllerHarness::workFileExists(const std::string& name) const {
    return std::filesystem::exists(workDir_ + name);
}

void ControllerHarness::writeWorkFile(const std::string& name, const std::string& bytes) const {
    writeBytes(workDir_ + name, bytes);
}

void ControllerHarness::closeAt(std::int64_t ms) {
    loop.scheduleAt(ms, [this] { controller().cmdClose_Click(); });
}

}  // namespace k9::test
