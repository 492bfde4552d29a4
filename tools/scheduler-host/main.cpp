// scheduler-host: the scheduler plug-in in the substitute kernel. Without a command it
// plays a demo for a person; `serve` lets a program drive the plug-in with JSON lines.
//
//     scheduler-host [OPTIONS] [demo|serve] [OPTIONS] [--] [LIBRARY]

#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

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

// The plug-in's place relative to the folder of this program, the same in the build tree
// and in an installed tree (bin/ and lib/zent/ side by side).
constexpr const char* kLibraryFromProgram = ZENT_SCHEDULER_LIBRARY_FROM_PROGRAM;

// The plug-in next to this program, found through its own path; empty when that path is
// unknown.
std::string DefaultLibrary() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return (program.parent_path() / kLibraryFromProgram).lexically_normal().string();
}

std::string Help() {
    std::string help =
        "Usage: scheduler-host [OPTIONS] [demo|serve] [OPTIONS] [--] [LIBRARY]\n"
        "Runs the scheduler plug-in (libScheduler.so) in the substitute kernel: a message\n"
        "bus, a logger, settings, ids and a time-zone translator. Options may come before or\n"
        "after the command; after \"--\" every word is the LIBRARY.\n"
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
        "      control line; a line that cannot be served, and a request sent while the\n"
        "      module is stopped, is answered with an error line of the same shape as the\n"
        "      module's error replies, with its \"id\" when it was read. Times are ISO 8601\n"
        "      UTC. Log lines go to standard error. At the end of the input, after quit,\n"
        "      or on SIGTERM or SIGINT, the host answers every request already read, shuts\n"
        "      the module down in order and exits with 0. docs/host-protocol.md describes\n"
        "      every field.\n"
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
        "                      that ticks can still arrive (default 0; 2.5 is allowed;\n"
        "                      at most 86400).\n"
        "  --no-start          serve: load and initialize the module but do not start it;\n"
        "                      requests wait in its queue until {\"control\": \"start\"}.\n"
        "  --library PATH      the plug-in to load; a LIBRARY argument (a path with a \"/\"\n"
        "                      or a name ending in .so) does the same. Default: the\n"
        "                      plug-in installed beside this program, ";
    help += kLibraryFromProgram;
    help +=
        "\n"
        "                      from the program's folder.\n"
        "  --no-translator     offer the module no translator resource: time-zone\n"
        "                      requests are answered with \"Translator is not available.\".\n"
        "  --log-level N       the lowest level logged: 1 detail (default), 2 info,\n"
        "                      3 warning, 4 error.\n"
        "  -h, --help          print this text and exit.\n"
        "  --version           print the version and exit.\n"
        "\n"
        "Exit status: 0 done; 1 the module could not be loaded or run (or, in the demo,\n"
        "ticks were missing); 2 wrong usage.\n";
    return help;
}

class CUsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class Command { Demo, Serve, Help, Version };

struct Arguments {
    Command command = Command::Demo;
    HostSettings settings;
};

// A LIBRARY argument names a file: a word without "/" and without ".so" is a mistyped
// command, not a library.
bool LooksLikeLibrary(const std::string& word) {
    return word.find('/') != std::string::npos || word.ends_with(".so") ||
           word.find(".so.") != std::string::npos;
}

// `text` as a number of seconds from 0 to one day; NaN, infinities and anything else is
// a usage error.
double ParseSeconds(const std::string& text) {
    std::size_t end = 0;
    double value = NAN;
    try {
        value = std::stod(text, &end);
    } catch (const std::exception&) {
        end = 0;
    }
    if (end == 0 || end != text.size() || !std::isfinite(value) || value < 0 ||
        value > kMaximumLingerSeconds) {
        throw CUsageError("bad --linger '" + text + "': a number of seconds from 0 to 86400");
    }
    return value;
}

Arguments ParseArguments(int argc, char** argv) {
    CLI::App app("scheduler-host", "scheduler-host");
    // The help text is the program's own (it lists the request types); CLI11 only parses.
    app.set_help_flag();
    bool help = false;
    bool version = false;
    bool verbose = false;
    bool noStart = false;
    bool noTranslator = false;
    std::string linger;
    std::string library;
    std::string logLevel;
    std::vector<std::string> positionals;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.add_flag("--verbose", verbose);
    app.add_flag("--no-start", noStart);
    app.add_flag("--no-translator", noTranslator);
    app.add_option("--linger", linger);
    app.add_option("--library", library);
    app.add_option("--log-level", logLevel);
    app.add_option("LIBRARY", positionals);
    // Options and LIBRARY after the command fall through to the program's own.
    app.fallthrough();
    app.require_subcommand(0, 1);
    app.add_subcommand("demo");
    CLI::App* serve = app.add_subcommand("serve");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        std::string reason = error.what();
        if (const auto lineBreak = reason.find('\n'); lineBreak != std::string::npos)
            reason.resize(lineBreak);
        throw CUsageError(reason);
    }

    Arguments arguments;
    if (help) {
        arguments.command = Command::Help;
        return arguments;
    }
    if (version) {
        arguments.command = Command::Version;
        return arguments;
    }
    const bool serving = serve->parsed();
    arguments.command = serving ? Command::Serve : Command::Demo;
    HostSettings& settings = arguments.settings;
    const auto only = [](bool given, bool allowed, const char* option, const char* command) {
        if (given && !allowed) throw CUsageError(std::string(option) + " is only for " + command);
    };
    only(verbose, !serving, "--verbose", "the demo");
    only(!linger.empty(), serving, "--linger", "serve");
    only(noStart, serving, "--no-start", "serve");
    settings.verbose = verbose;
    settings.startModule = !noStart;
    settings.withTranslator = !noTranslator;
    if (!linger.empty())
        settings.linger = std::chrono::milliseconds(std::llround(ParseSeconds(linger) * 1000));
    if (!logLevel.empty()) {
        if (logLevel.size() != 1 || logLevel[0] < '1' || logLevel[0] > '4')
            throw CUsageError("bad --log-level '" + logLevel + "': 1, 2, 3 or 4");
        settings.logLevel = logLevel[0] - '0';
    }

    for (const std::string& word : positionals) {
        if (word == "demo" || word == "serve")
            throw CUsageError("more than one command: '" + word + "'");
        if (!LooksLikeLibrary(word)) {
            throw CUsageError("unknown command '" + word +
                              "' (commands: demo, serve; a LIBRARY is a path with a '/' or a "
                              "name ending in .so)");
        }
    }
    if (positionals.size() + (library.empty() ? 0 : 1) > 1) {
        throw CUsageError("more than one library: '" +
                          (library.empty() ? positionals[1] : positionals[0]) + "'");
    }
    settings.library = !library.empty()       ? library
                       : !positionals.empty() ? positionals.front()
                                              : DefaultLibrary();
    if (settings.library.empty()) throw CUsageError("no library given");
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    try {
        arguments = ParseArguments(argc, argv);
    } catch (const CUsageError& error) {
        std::cerr << "scheduler-host: " << error.what() << " (scheduler-host --help for usage)\n";
        return kExitUsage;
    }
    try {
        switch (arguments.command) {
            case Command::Help:
                std::cout << Help();
                return 0;
            case Command::Version:
                std::cout << "scheduler-host " << ZENT_VERSION << '\n';
                return 0;
            case Command::Serve:
                return Zent::Tools::SchedulerHost::RunServe(arguments.settings, STDIN_FILENO,
                                                            std::cout);
            case Command::Demo:
                return Zent::Tools::SchedulerHost::RunDemo(arguments.settings, std::cout);
        }
    } catch (const std::exception& error) {
        std::cerr << "scheduler-host: " << error.what() << '\n';
    }
    return kExitFailure;
}
