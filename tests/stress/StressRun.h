#pragma once

// The stress run of scheduler_stress: a population of registered events (most of them
// sparse, some ticking every second, some in local time, some with random delays or
// occurrence limits), client threads sending all eleven requests, valid and broken, the
// event dump every second, and the module's clock moved just before whole seconds: jumps,
// jumps during the re-plan of an earlier one, zone changes, excursions outside 1970..2099
// and back, and back-and-forth pairs spaced wider than the observer's check period. Every
// second at rest is checked for every every-second event; a forced stop ends the run.

#include <cstdint>

namespace Zent::Stress {

struct StressOptions {
    int seconds = 20;  // length of the phase with the clock moving
    std::uint32_t events = 4'000;
    std::uint32_t everySecond = 200;  // of `events`
    std::uint32_t clients = 2;        // client threads sending requests
    // Requests each client sends per second; 0: as fast as its window of replies allows.
    // Unpaced clients keep both cores of a small machine busy answering, and then no thread
    // of the module, the tick thread included, gets the processor on time.
    std::uint32_t rate = 250;
    std::uint64_t seed = 0;
};

// Runs it and prints its counts; 0 when every check held, 1 otherwise. Throws what loading
// the module throws.
int RunStress(const StressOptions& options);

}  // namespace Zent::Stress
