#pragma once

// The mixed run of scheduler_stress: a few hundred every-second events and a random mix of
// all requests, valid and broken, while the module's clock jumps; then a forced stop.

#include <cstdint>

namespace Zent::Stress {

struct MixedOptions {
    int seconds = 20;  // length of the main phase
    std::uint32_t clients = 4;
    std::uint32_t events = 300;  // every-second registrations; at least twice `clients`
    std::uint64_t seed = 0;
    int watchdogSeconds = 30;
    std::uint32_t maxRequests = 50'000'000;
    int jumpGapSeconds = 0;  // 0: random pauses of 0.7 to 2.5 s
};

// Runs it and prints its summary; 0 when every check held, 1 otherwise. Throws what
// loading the module throws.
int RunMixed(const MixedOptions& options);

}  // namespace Zent::Stress
