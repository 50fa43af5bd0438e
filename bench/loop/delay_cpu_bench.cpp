// CPU used by the Qt event loop while the update run waits in Delay(2000) beside an idle
// window. A loop that spins instead of sleeping would show about 100%.
#include <QApplication>
#include <QLabel>
#include <cstdio>

#include "bench_common.h"
#include "platform/qt_event_loop.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QLabel window("idle");
    window.show();
    k9::QtEventLoop loop;
    // The dots timer of a run keeps ticking meanwhile, as in a real wait.
    auto dots = loop.makeTimer([&] { window.setText(window.text() + "."); });
    dots->setInterval(1456);
    dots->setEnabled(true);
    k9::Delay(loop, 200);  // settle start-up work

    constexpr int kWaits = 5;
    const double cpuStart = k9::bench::cpuSeconds();
    const auto wallStart = loop.tickMs();
    for (int i = 0; i < kWaits; ++i) {
        k9::Delay(loop, 2000);
    }
    const double cpu = k9::bench::cpuSeconds() - cpuStart;
    const double wall = static_cast<double>(loop.tickMs() - wallStart) / 1000.0;
    std::printf("delay_2000_wall: %.3f s per wait\n", wall / kWaits);
    std::printf("delay_2000_cpu: %.3f %% of one core (target < 1)\n", 100.0 * cpu / wall);
    return 0;
}
