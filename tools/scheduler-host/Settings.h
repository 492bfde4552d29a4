#pragma once

// What the command line of scheduler-host chose: the plug-in, how the substitute kernel is
// set up, and the options of the demo and of serve.
//
//     HostSettings settings;
//     settings.library = "/opt/agent/libScheduler.so";
//     settings.withTranslator = false;
//     return RunServe(settings, std::cin, std::cout);

#include <chrono>
#include <cstdint>
#include <string>

namespace Zent::Tools::SchedulerHost {

struct HostSettings {
    std::string library;
    bool withTranslator = true;
    // The lowest log level written (1 detail .. 4 error).
    std::int32_t logLevel = 1;
    // Demo: write the log lines to stderr (they are dropped otherwise).
    bool verbose = false;
    // Serve: start the module right after loading it (else at {"control":"start"}).
    bool startModule = true;
    // Serve: how long to go on after the end of the input before shutting down.
    std::chrono::milliseconds linger{0};
};

}  // namespace Zent::Tools::SchedulerHost
