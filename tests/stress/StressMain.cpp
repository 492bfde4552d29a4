// scheduler_stress: the scheduler module under load, checked tick by tick and reply by reply.
//
//     scheduler_stress --seconds 10 --seed 1            # the suite's short run
//     scheduler_stress --scale --seconds 600            # 100,000 events (build in release)
//
// Exit code 0: clean; 1: violations; 2: usage.

#include <CLI/CLI.hpp>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <random>

#include "tests/stress/StressRun.h"

int main(int argc, char** argv) {
    Zent::Stress::StressOptions options;
    options.seed = std::random_device{}();
    bool scale = false;
    std::uint32_t events = 0, everySecond = 0, rate = 0;

    CLI::App app("The scheduler module under load. Exit code 0: clean; 1: violations; 2: usage.",
                 "scheduler_stress");
    app.add_flag("--scale", scale,
                 "the full population: 100,000 events, 1,000 of them every second, 2,500 "
                 "requests/s per client (build in release)");
    app.add_option("--seconds", options.seconds, "length of the phase with the clock moving (20)")
        ->check(CLI::Range(1, 86400));
    app.add_option("--events", events, "registered events (4000; --scale: 100000), at least 1000")
        ->check(CLI::Range(1000, 1'000'000));
    app.add_option("--every-second", everySecond,
                   "of --events, those that tick every second (200; --scale: 1000), at most half")
        ->check(CLI::Range(1, 10'000));
    app.add_option("--clients", options.clients, "client threads sending requests (2)")
        ->check(CLI::Range(1, 64));
    app.add_option("--rate", rate,
                   "requests per second of each client, 0 for as fast as replies come (250; "
                   "--scale: 2500)")
        ->check(CLI::Range(0, 1'000'000));
    app.add_option("--seed", options.seed, "seed of the random choices (default: random, printed)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "scheduler_stress: %s (see --help)\n", e.what());
        return 2;
    }
    if (scale) options.events = 100'000, options.everySecond = 1'000, options.rate = 2'500;
    if (events != 0) options.events = events;
    if (everySecond != 0) options.everySecond = everySecond;
    if (app.count("--rate") > 0) options.rate = rate;
    if (options.events < 2 * options.everySecond) {
        std::fprintf(stderr,
                     "scheduler_stress: --events must be at least twice --every-second "
                     "(see --help)\n");
        return 2;
    }
    try {
        return Zent::Stress::RunStress(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scheduler_stress: %s\n", e.what());
        return 1;
    }
}
