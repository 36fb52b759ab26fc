#pragma once

#include <functional>

#include "platform/runtime_error.h"

// The RuntimeError number `call` raises; -1 when it returns.
inline int ErrorNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return -1;
}
