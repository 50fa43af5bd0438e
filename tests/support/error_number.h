#pragma once

#include <cstdint>

#include "platform/runtime_error.h"

namespace k9::test {

// The number of the run-time error the action raises; 0 when it raises none.
template <typename Action>
std::int32_t errorNumberOf(Action action) {
    try {
        action();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return 0;
}

}  // namespace k9::test
