#pragma once

// The command line of scheduler-cron: a command, its operands and options, which may
// come before or after the command; `--` ends the options.
//
//     scheduler-cron --tz Europe/Berlin next '0 30 8 ? * mon-fri' --count 3

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Zent::Tools::Cron {

// Wrong usage; what() is the one line shown to the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line taken apart. Option values are checked by the commands, which know
// the zone a time is read in.
struct Invocation {
    std::string command;
    std::vector<std::string> operands;
    std::optional<std::string> from;
    std::optional<unsigned> count;
    std::optional<unsigned> months;
    std::optional<std::string> zone;  // --tz
    bool local = false;
    bool utc = false;
    bool json = false;
};

// What ReadCommandLine found: a command to run, or text to print and exit with 0.
struct CommandLine {
    std::optional<Invocation> invocation;
    std::string output;  // --help or --version
};

// Parses argv. Raises UsageError for an unknown command or option, a missing or bad
// value, an option the command does not take, or the wrong number of operands.
CommandLine ReadCommandLine(int argc, const char* const argv[]);

// The --help text.
extern const char* const kHelp;

}  // namespace Zent::Tools::Cron
