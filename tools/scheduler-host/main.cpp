// scheduler-host: loads the scheduler plug-in into the substitute kernel, runs it for a
// while, and shuts it down the way the agent's kernel does, logging each step to stderr.
//
//     scheduler-host [--run-ms N] [--no-translator] [--log-level 1..4] [library]

#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "common/kernel/IMessage.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kGracefulStopAttempts = 20;
constexpr std::chrono::milliseconds kStopRetryPause{100};

#ifdef ZENT_SCHEDULER_LIBRARY
constexpr const char* kDefaultLibrary = ZENT_SCHEDULER_LIBRARY;
#else
constexpr const char* kDefaultLibrary = "";
#endif

struct Arguments {
    std::string library = kDefaultLibrary;
    std::chrono::milliseconds runFor{1000};
    bool withTranslator = true;
    std::int32_t logLevel = 1;
};

std::optional<long> ParseNumber(std::string_view text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<Arguments> ParseArguments(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--no-translator") {
            arguments.withTranslator = false;
        } else if ((argument == "--run-ms" || argument == "--log-level") && i + 1 < argc) {
            const std::optional<long> value = ParseNumber(argv[++i]);
            if (!value)
                return std::nullopt;
            if (argument == "--run-ms") {
                arguments.runFor = std::chrono::milliseconds(*value);
            } else if (*value >= 1 && *value <= 4) {
                arguments.logLevel = static_cast<std::int32_t>(*value);
            } else {
                return std::nullopt;
            }
        } else if (!argument.starts_with("--")) {
            arguments.library = argument;
        } else {
            return std::nullopt;
        }
    }
    if (arguments.library.empty())
        return std::nullopt;
    return arguments;
}

int Run(const Arguments& arguments) {
    Zent::Host::CSchedulerHost::Options options;
    options.withTranslator = arguments.withTranslator;
    options.minimumLogLevel = arguments.logLevel;
    Zent::Host::CSchedulerHost host(std::move(options));
    Zent::Host::CLogger& logger = host.GetLogger();

    host.GetBus().AddObserver([&logger](const auto& message, const auto& userContext) {
        logger.Log("On the bus: " + message->GetTypeName() + " (type " +
                       std::to_string(message->GetType()) + ", user '" +
                       userContext->GetUserUuid() + "')",
                   1, "SchedulerHost");
    });

    host.Load(arguments.library);
    host.Initialize();
    host.Start();
    std::this_thread::sleep_for(arguments.runFor);
    host.PrepareShutdown();

    bool stopped = false;
    for (int attempt = 0; attempt < kGracefulStopAttempts && !stopped; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kStopRetryPause);
        stopped = host.Stop(false);
    }
    if (!stopped) {
        logger.Log("The module stayed busy; stopping it by force", 3, "SchedulerHost");
        host.Stop(true);
    }
    host.Unload();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Arguments> arguments = ParseArguments(argc, argv);
    if (!arguments) {
        std::cerr << "usage: scheduler-host [--run-ms N] [--no-translator] [--log-level 1..4] "
                     "[library]\n"
                  << "  library defaults to " << (*kDefaultLibrary ? kDefaultLibrary : "(none)")
                  << '\n';
        return kExitUsage;
    }
    try {
        return Run(*arguments);
    } catch (const std::exception& error) {
        std::cerr << "scheduler-host: " << error.what() << '\n';
        return kExitFailure;
    }
}
