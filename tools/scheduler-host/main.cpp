// scheduler-host: the scheduler plug-in in the substitute kernel. Without a command it
// plays a demo for a person; `serve` lets a program drive the plug-in with JSON lines.
//
//     scheduler-host [demo] [--verbose] [OPTIONS] [LIBRARY]
//     scheduler-host serve [--linger SECONDS] [--no-start] [OPTIONS] [LIBRARY]

#include <charconv>
#include <chrono>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tools/scheduler-host/Demo.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/Serve.h"
#include "tools/scheduler-host/Settings.h"

namespace {

using Zent::Tools::SchedulerHost::HostSettings;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// The longest --linger accepted: one day.
constexpr double kMaximumLingerSeconds = 86400;

#ifdef ZENT_SCHEDULER_LIBRARY
constexpr const char* kDefaultLibrary = ZENT_SCHEDULER_LIBRARY;
#else
constexpr const char* kDefaultLibrary = "";
#endif

constexpr std::string_view kUsage =
    "usage: scheduler-host [demo] [--verbose] [OPTIONS] [LIBRARY]\n"
    "       scheduler-host serve [--linger SECONDS] [--no-start] [OPTIONS] [LIBRARY]\n"
    "       scheduler-host --help\n"
    "OPTIONS: [--library PATH] [--no-translator] [--log-level 1..4]\n";

std::string Help() {
    std::string help =
        "scheduler-host: runs the scheduler plug-in (libScheduler.so) in the substitute\n"
        "kernel: a message bus, a logger, settings, ids and a time-zone translator.\n"
        "\n"
        "Commands:\n"
        "  demo (the default)\n"
        "      Plays a demo for a person that ends within about ten seconds: alice and\n"
        "      bob register four time events (every 2 s for 3 times, a local-time event,\n"
        "      a 3-second sleep and one with a random delay), each tick is shown as it\n"
        "      arrives, the scheduler is asked for remaining times, next occurrences, a\n"
        "      time range, a last tick and time-zone details, two requests are answered\n"
        "      with typed errors, and the module is shut down in order. Exit status 0\n"
        "      when every tick arrived.\n"
        "  serve\n"
        "      Speaks JSON lines. Each line of standard input is a request, such as\n"
        "        {\"type\": \"RegisterTimeEvent\", \"id\": 1, \"user\": \"alice\",\n"
        "         \"timeEvent\": {\"timespecification\": \"*/2 * * * * ?\", \"utclocal\": true},\n"
        "         \"userData\": {\"job\": \"backup\"}}\n"
        "      or a control line: {\"control\": \"start\"}, {\"control\": \"prepareShutdown\"},\n"
        "      {\"control\": \"stop\", \"force\": false} or {\"control\": \"quit\"}.\n"
        "      Every message the module sends becomes one JSON object on standard output\n"
        "      (\"kind\" response, error or tick), and so does the acknowledgement of each\n"
        "      control line; a line that cannot be served is answered with\n"
        "      {\"error\": REASON, \"line\": N} and the host goes on. Log lines go to\n"
        "      standard error. At the end of the input (or after quit) the host waits for\n"
        "      the replies still owed, shuts the module down in order and exits with 0.\n"
        "      docs/host-protocol.md describes every field.\n"
        "      Request types (number, name and fields):\n";
    for (const auto& type : Zent::Tools::SchedulerHost::RequestTypes()) {
        help += "      " + std::to_string(type.type) + " " + type.name + ":";
        for (const std::string& field : type.fields)
            help += " " + field;
        help += "\n";
    }
    help +=
        "      Every request may also carry \"id\" (the request id, default 0) and \"user\"\n"
        "      (the requester's user name).\n"
        "\n"
        "Options:\n"
        "  --verbose           demo: write the log lines to standard error (dropped\n"
        "                      otherwise).\n"
        "  --linger SECONDS    serve: at the end of the input, wait this long first, so\n"
        "                      that ticks can still arrive (default 0; 2.5 is allowed).\n"
        "  --no-start          serve: load and initialize the module but do not start it;\n"
        "                      requests wait in its queue until {\"control\": \"start\"}.\n"
        "  --library PATH      the plug-in to load; a LIBRARY argument does the same.\n"
        "                      Default: ";
    help += *kDefaultLibrary ? kDefaultLibrary : "(none: give one)";
    help +=
        "\n"
        "  --no-translator     offer the module no translator resource: time-zone\n"
        "                      requests are answered with \"Translator is not available.\".\n"
        "  --log-level N       the lowest level logged: 1 detail (default), 2 info,\n"
        "                      3 warning, 4 error.\n"
        "  --help              prints this text.\n"
        "\n"
        "Exit status: 0 done; 1 the module could not be loaded or run (or, in the demo,\n"
        "ticks were missing); 2 wrong usage.\n";
    return help;
}

class CUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Command { Demo, Serve, Help };

struct Arguments {
    Command command = Command::Demo;
    HostSettings settings;
};

double ParseSeconds(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 ||
        value > kMaximumLingerSeconds) {
        throw CUsageError("bad --linger '" + std::string(text) + "'");
    }
    return value;
}

std::int32_t ParseLogLevel(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > 4)
        throw CUsageError("bad --log-level '" + std::string(text) + "'");
    return value;
}

Arguments ParseArguments(int argc, char** argv) {
    Arguments arguments;
    arguments.settings.library = kDefaultLibrary;
    int first = 1;
    if (argc > 1 && std::string_view(argv[1]) == "serve") {
        arguments.command = Command::Serve;
        first = 2;
    } else if (argc > 1 && std::string_view(argv[1]) == "demo") {
        first = 2;
    }
    const bool serve = arguments.command == Command::Serve;
    bool libraryGiven = false;
    for (int i = first; i < argc; ++i) {
        std::string_view argument = argv[i];
        std::optional<std::string_view> attached;
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            attached = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        const auto value = [&]() -> std::string_view {
            if (attached) return *attached;
            if (i + 1 >= argc) throw CUsageError(std::string(argument) + " needs a value");
            return argv[++i];
        };
        const auto flag = [&] {
            if (attached) throw CUsageError(std::string(argument) + " takes no value");
        };
        const auto only = [&](bool allowed, const char* command) {
            if (!allowed) throw CUsageError(std::string(argument) + " is only for " + command);
        };
        if (argument == "--help") {
            arguments.command = Command::Help;
            return arguments;
        } else if (argument == "--verbose") {
            flag();
            only(!serve, "the demo");
            arguments.settings.verbose = true;
        } else if (argument == "--linger") {
            only(serve, "serve");
            arguments.settings.linger =
                std::chrono::milliseconds(static_cast<std::int64_t>(ParseSeconds(value()) * 1000));
        } else if (argument == "--no-start") {
            flag();
            only(serve, "serve");
            arguments.settings.startModule = false;
        } else if (argument == "--no-translator") {
            flag();
            arguments.settings.withTranslator = false;
        } else if (argument == "--log-level") {
            arguments.settings.logLevel = ParseLogLevel(value());
        } else if (argument == "--library" || !argument.starts_with("--")) {
            const std::string_view library = argument == "--library" ? value() : argument;
            if (libraryGiven)
                throw CUsageError("more than one library: '" + std::string(library) + "'");
            arguments.settings.library = library;
            libraryGiven = true;
        } else {
            throw CUsageError("unknown option '" + std::string(argument) + "'");
        }
    }
    if (arguments.settings.library.empty()) throw CUsageError("no library given");
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    try {
        arguments = ParseArguments(argc, argv);
    } catch (const CUsageError& error) {
        std::cerr << "scheduler-host: " << error.what() << '\n' << kUsage;
        return kExitUsage;
    }
    try {
        switch (arguments.command) {
            case Command::Help:
                std::cout << Help();
                return 0;
            case Command::Serve:
                return Zent::Tools::SchedulerHost::RunServe(arguments.settings, std::cin,
                                                            std::cout);
            case Command::Demo:
                return Zent::Tools::SchedulerHost::RunDemo(arguments.settings, std::cout);
        }
    } catch (const std::exception& error) {
        std::cerr << "scheduler-host: " << error.what() << '\n';
    }
    return kExitFailure;
}
