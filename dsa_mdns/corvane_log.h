// The engine's log lines: through corvane_log_hook when it is set, nowhere otherwise.
#pragma once

#include "dsa_mdns/corvane_mdns.h"

#define CORVANE_LOG(...)                                                                                     \
    do {                                                                                                     \
        if (corvane_log_hook != nullptr) {                                                                   \
            corvane_log_hook(__VA_ARGS__);                                                                   \
        }                                                                                                    \
    } while (0)
