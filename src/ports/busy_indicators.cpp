#include "ports/busy_indicators.h"

#include <string_view>

#include "platform/event_loop.h"
#include "platform/main_view.h"

namespace k9 {
namespace {

constexpr std::string_view kAlphabet =
    "AB CD EFG HIJ KLMN OPQR ST UVW XYZ 12 34 567 8 90 akjhiuervb ajshdgj 1283768";
static_assert(kAlphabet.size() == 76);
// The last ten characters of the alphabet are never drawn.
constexpr int kUsable = static_cast<int>(kAlphabet.size()) - 10;

}  // namespace

void BusyIndicators::tmrDots_Timer() {
    std::string dots = view_.caption(Caption::Dots) + ".";
    if (dots.size() > 10) {
        dots.clear();
    }
    view_.setCaption(Caption::Dots, dots);
}

void BusyIndicators::ShowBusyPointer() {
    view_.setBusyPointer(true);
}

void BusyIndicators::ShowNormalPointer() {
    view_.setBusyPointer(false);
}

std::string RandomText(EventLoop& loop, std::mt19937& random) {
    std::uniform_int_distribution<int> length(2001, 4000);
    std::uniform_int_distribution<int> position(0, kUsable - 1);
    const int n = length(random);
    std::string text;
    text.reserve(static_cast<std::size_t>(n));
    for (int i = 1; i < n; ++i) {
        text += kAlphabet[static_cast<std::size_t>(position(random))];
        loop.yield();
    }
    return text;
}

}  // namespace k9
