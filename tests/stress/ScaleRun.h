#pragma once

// The scale run of scheduler_stress: 100,000 registered events (most of them sparse, a
// thousand ticking every second, some in local time, some with random delays or occurrence
// limits), all eleven requests sent at once, the event dump every second, and the module's
// clock moved just before whole seconds: jumps, jumps during the re-plan of an earlier one,
// excursions outside 1970..2099 and back, and back-and-forth pairs spaced wider than the
// observer's check period. Every second at rest is checked for every every-second event.

#include <cstdint>

namespace Zent::Stress {

struct ScaleOptions {
    int seconds = 60;  // length of the phase with the clock moving
    std::uint32_t events = 100'000;
    std::uint32_t everySecond = 1'000;  // of `events`
    std::uint32_t clients = 2;          // client threads sending requests
    // Requests each client sends per second; 0: as fast as its window of replies allows.
    // Two unpaced clients keep both cores of a small machine busy answering, and then no
    // thread of the module, the tick thread included, gets the processor on time.
    std::uint32_t rate = 2'500;
    std::uint64_t seed = 0;
    std::uint32_t maxRequests = 20'000'000;
};

// Runs it and prints its counts; 0 when every check held, 1 otherwise. Throws what loading
// the module throws.
int RunScale(const ScaleOptions& options);

}  // namespace Zent::Stress
