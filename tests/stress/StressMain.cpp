// scheduler_stress: the scheduler module under load, in one of two runs.
//
//     scheduler_stress --seconds 60 --clients 4 --events 300 --seed 1   # the mixed run
//     scheduler_stress --scale --seconds 600                            # 100,000 events
//
// Exit code 0: clean; 1: violations; 2: usage.

#include <sys/prctl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "tests/stress/MixedRun.h"
#include "tests/stress/Sanitized.h"
#include "tests/stress/ScaleRun.h"

namespace {

// malloc's per-thread caches keep freed blocks that mallinfo2 counts as in use: tens of
// kilobytes per thread, different every time. The mixed run's heap comparison runs without
// them.
void RestartWithoutMallocThreadCaches(char** argv) {
#ifndef ZENT_STRESS_SANITIZED
    constexpr const char* kTunable = "glibc.malloc.tcache_count=0";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, kTunable) != nullptr) return;
    const std::string value = tunables == nullptr || *tunables == '\0'
                                  ? std::string(kTunable)
                                  : std::string(tunables) + ":" + kTunable;
    setenv("GLIBC_TUNABLES", value.c_str(), 1);
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) execv(self.c_str(), argv);
    const std::string reason = error ? error.message() : std::strerror(errno);
    std::fprintf(stderr,
                 "note: cannot restart without malloc's thread caches (%s); the heap "
                 "figures will be rough\n",
                 reason.c_str());
#else
    static_cast<void>(argv);
#endif
}

}  // namespace

int main(int argc, char** argv) {
    Zent::Stress::MixedOptions mixed;
    Zent::Stress::ScaleOptions scale;
    bool scaleRun = false;
    int seconds = 0;
    std::uint32_t events = 0;
    std::uint32_t clients = 0;
    std::uint64_t seed = std::random_device{}();
    std::uint32_t maxRequests = 0;

    CLI::App app("The scheduler module under load. Exit code 0: clean; 1: violations; 2: usage.",
                 "scheduler_stress");
    app.add_flag("--scale", scaleRun,
                 "the scale run: 100,000 events, every request at once, the clock moved just "
                 "before whole seconds (build in release)");
    app.add_option("--seconds", seconds, "length of the main phase (default 20; --scale: 60)")
        ->check(CLI::Range(1, 86400));
    app.add_option("--clients", clients, "client threads sending requests (default 4; --scale: 2)")
        ->check(CLI::Range(1, 64));
    app.add_option("--events", events,
                   "every-second registrations, at least twice --clients (default 300); --scale: "
                   "all registrations (default 100000, at least 2000)")
        ->check(CLI::Range(1, 1'000'000));
    app.add_option("--rate", scale.rate,
                   "--scale: requests per second of each client, 0 for as fast as replies come "
                   "(default 2500)")
        ->check(CLI::Range(0, 1'000'000));
    app.add_option("--every-second", scale.everySecond,
                   "--scale: the events among --events that tick every second (default 1000)")
        ->check(CLI::Range(1, 10'000));
    app.add_option("--seed", seed, "seed of the random choices (default: random, printed)");
    app.add_option("--jump-gap", mixed.jumpGapSeconds,
                   "seconds between changes of the module's clock (default: random 0.7..2.5 s; "
                   "from 12 on, the scheduler sees each jump on its own)")
        ->check(CLI::Range(0, 3600));
    app.add_option("--watchdog", mixed.watchdogSeconds,
                   "seconds without progress that count as a hang (default 30)")
        ->check(CLI::Range(1, 3600));
    app.add_option("--max-requests", maxRequests,
                   "requests sent at most over the whole run (default 50000000; --scale: "
                   "20000000)")
        ->check(CLI::Range(1000, 100'000'000));
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "scheduler_stress: %s (see --help)\n", e.what());
        return 2;
    }

    if (scaleRun) {
        if (seconds != 0) scale.seconds = seconds;
        if (events != 0) scale.events = events;
        if (clients != 0) scale.clients = clients;
        if (maxRequests != 0) scale.maxRequests = maxRequests;
        scale.seed = seed;
        if (scale.events < 2 * scale.everySecond || scale.events < 2000) {
            std::fprintf(stderr,
                         "scheduler_stress: --events must be at least 2000 and twice "
                         "--every-second (see --help)\n");
            return 2;
        }
    } else {
        if (seconds != 0) mixed.seconds = seconds;
        if (events != 0) mixed.events = events;
        if (clients != 0) mixed.clients = clients;
        if (maxRequests != 0) mixed.maxRequests = maxRequests;
        mixed.seed = seed;
        if (mixed.events < 2 * mixed.clients || mixed.events > 100'000) {
            std::fprintf(stderr,
                         "scheduler_stress: --events must lie in 2 x --clients..100000 "
                         "(see --help)\n");
            return 2;
        }
        RestartWithoutMallocThreadCaches(argv);
    }
    // Where Yama restricts ptrace to ancestors, this lets the watchdog's gdb attach.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    try {
        return scaleRun ? Zent::Stress::RunScale(scale) : Zent::Stress::RunMixed(mixed);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scheduler_stress: %s\n", e.what());
        return 1;
    }
}
