// One event as the host builds it, for the tests that call talk directly.
#pragma once

#include <cstdint>

#include "hostlink/host_interface.h"

inline BotEvent hostEvent(uint32_t handle, uint32_t code, uintptr_t slot0 = 0, uintptr_t slot1 = 0,
                          uintptr_t slot2 = 0) {
    BotEvent event{};
    event.handle = handle;
    event.code = code;
    event.slot[0] = slot0;
    event.slot[1] = slot1;
    event.slot[2] = slot2;
    return event;
}
