// scheduler-cron: asks the crontab engine about a crontab text from the command line
// (next and previous matches, the normalised text, the last occurrence, the next range).

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "Scheduler/crontab/CronRangeFinder.h"
#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/crontab/CrontabValidationException.h"

namespace {

using boost::posix_time::ptime;
using Zent::Scheduler::CCronRangeFinder;
using Zent::Scheduler::CCronTab;
using Zent::Scheduler::CCrontabParser;
using Zent::Scheduler::CCrontabScheduler;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr unsigned kDefaultCount = 5;

// FindNext or FindPrevious.
using Search = ptime (*)(const CCronTab&, ptime);

constexpr std::string_view kUsage =
    "usage: scheduler-cron next TEXT [--from TIME] [--count N]\n"
    "       scheduler-cron prev TEXT [--from TIME] [--count N]\n"
    "       scheduler-cron check TEXT\n"
    "       scheduler-cron last TEXT\n"
    "       scheduler-cron range [--from TIME] DEF...\n"
    "       scheduler-cron --help\n";

constexpr std::string_view kHelp =
    "scheduler-cron: answers questions about crontab texts.\n"
    "\n"
    "Commands:\n"
    "  next TEXT [--from TIME] [--count N]\n"
    "      The first second matching TEXT at or after TIME, then each following match\n"
    "      (the first one strictly after the match before it): at most N lines, fewer\n"
    "      when the matches run out before the end of 2099.\n"
    "  prev TEXT [--from TIME] [--count N]\n"
    "      The same backwards: the last match at or before TIME, then strictly earlier\n"
    "      ones, back to 1970.\n"
    "  check TEXT\n"
    "      Prints TEXT with its white space normalised when it parses.\n"
    "  last TEXT\n"
    "      The last occurrence of TEXT of all, or `none` when its years are unbounded\n"
    "      (no year field, or one holding `*` or `*/n`) or it never matches.\n"
    "  range [--from TIME] DEF...\n"
    "      Among the ranges opened by the definitions, the one with the earliest start\n"
    "      that has not ended at TIME, or `none`. A range that has begun but not ended\n"
    "      counts. Prints its start and end in UTC on one line. A DEF is\n"
    "      `utc:SECONDS:TEXT` or `local:SECONDS:TEXT`: every match of TEXT opens a range\n"
    "      of SECONDS seconds; TEXT is read in UTC or in the local time of the process's\n"
    "      time zone (TZ). On equal starts the earlier DEF wins.\n"
    "\n"
    "Options:\n"
    "  --from TIME   the time to search from, `YYYY-MM-DD HH:MM:SS` with an optional\n"
    "                fraction `.ffffff` (one to six digits); default: the current UTC time.\n"
    "                next and prev drop the fraction, so a matching TIME is its own answer.\n"
    "  --count N     the number of lines next and prev print at most (N >= 1, default 5).\n"
    "  --help        prints this text.\n"
    "\n"
    "Times are printed as `YYYY-MM-DD HH:MM:SS`. The engine knows the years 1970 to 2099.\n"
    "A TEXT is one argument (quote it): six or seven fields separated by white space,\n"
    "second, minute, hour, day of month, month, day of week and an optional year; exactly\n"
    "one of the two day fields is `?`. Example: \"0 30 8 ? * mon-fri\".\n"
    "\n"
    "Exit status: 0 on success; 1 when a crontab text does not parse (the engine's reason\n"
    "is printed on stderr) or another failure occurs; 2 on wrong usage.\n";

// Wrong usage of the tool: the message is printed above the short usage text.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The command line taken apart: the command, its operands and the options given.
struct Invocation {
    std::string command;
    std::vector<std::string> operands;
    std::optional<ptime> from;
    std::optional<unsigned> count;
};

// `YYYY-MM-DD HH:MM:SS` with an optional fraction of one to six digits; empty when the
// text has another shape or names no real date and time.
std::optional<ptime> ParseTime(const std::string& text) {
    static const std::regex pattern(
        R"((\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,6}))?)");
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) {
        return std::nullopt;
    }
    const auto number = [&match](std::size_t group) { return std::stoi(match.str(group)); };
    const int hour = number(4);
    const int minute = number(5);
    const int second = number(6);
    if (hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    std::string fraction = match.str(7);
    fraction.resize(6, '0');
    try {
        const boost::gregorian::date day(number(1), number(2), number(3));
        return ptime(day, boost::posix_time::hours(hour) + boost::posix_time::minutes(minute) +
                              boost::posix_time::seconds(second) +
                              boost::posix_time::microseconds(std::stoi(fraction)));
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

// A decimal number that fills all of `text`, or empty.
template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

ptime ParseFromOption(const std::string& value) {
    const std::optional<ptime> from = ParseTime(value);
    if (!from) {
        throw UsageError("bad --from time '" + value + "'");
    }
    return *from;
}

unsigned ParseCountOption(const std::string& value) {
    const std::optional<unsigned> count = ParseNumber<unsigned>(value);
    if (!count || *count == 0) {
        throw UsageError("bad --count '" + value + "'");
    }
    return *count;
}

// Everything after the command: `--from TIME`, `--count N` (also as `--name=value`) and
// operands, in any order.
Invocation ReadArguments(const std::vector<std::string>& args) {
    if (args.empty()) {
        throw UsageError("no command");
    }
    Invocation invocation{args.front(), {}, {}, {}};
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!arg.starts_with("--")) {
            invocation.operands.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        std::string value;
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError("option " + name + " needs a value");
        }
        if (name == "--from") {
            invocation.from = ParseFromOption(value);
        } else if (name == "--count") {
            invocation.count = ParseCountOption(value);
        } else {
            throw UsageError("unknown option " + name);
        }
    }
    return invocation;
}

std::string FormatTime(const ptime& t) {
    const boost::gregorian::date day = t.date();
    const boost::posix_time::time_duration time = t.time_of_day();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(day.year()),
                  static_cast<int>(day.month()), static_cast<int>(day.day()),
                  static_cast<int>(time.hours()), static_cast<int>(time.minutes()),
                  static_cast<int>(time.seconds()));
    return text;
}

ptime FromOrNow(const Invocation& invocation) {
    return invocation.from.value_or(boost::posix_time::microsec_clock::universal_time());
}

std::shared_ptr<CCronTab> Parse(const std::string& text) {
    return CCrontabParser().Parse(text);
}

// Prints up to --count matches: `search` from the start time, then `search` again from
// each match moved by `step`, until a search finds nothing.
void PrintMatches(const Invocation& invocation, Search search,
                  boost::posix_time::time_duration step) {
    const std::shared_ptr<CCronTab> tab = Parse(invocation.operands.front());
    ptime match = search(*tab, FromOrNow(invocation));
    for (unsigned n = invocation.count.value_or(kDefaultCount);
         n > 0 && !match.is_not_a_date_time(); --n) {
        std::cout << FormatTime(match) << '\n';
        match = search(*tab, match + step);
    }
}

void RunNext(const Invocation& invocation) {
    PrintMatches(invocation, &Zent::Scheduler::FindNext, boost::posix_time::seconds(1));
}

void RunPrev(const Invocation& invocation) {
    PrintMatches(invocation, &Zent::Scheduler::FindPrevious, boost::posix_time::seconds(-1));
}

void RunCheck(const Invocation& invocation) {
    std::cout << Parse(invocation.operands.front())->GetText() << '\n';
}

void RunLast(const Invocation& invocation) {
    const CCrontabScheduler scheduler(Parse(invocation.operands.front()));
    const std::optional<ptime> last = scheduler.LastOccurrence();
    std::cout << (last ? FormatTime(*last) : "none") << '\n';
}

// `utc:SECONDS:TEXT` or `local:SECONDS:TEXT`, split at the first two colons.
CCronRangeFinder::RangeDefinition ParseDefinition(const std::string& def) {
    const std::size_t first = def.find(':');
    const std::size_t second = first == std::string::npos ? first : def.find(':', first + 1);
    if (second == std::string::npos) {
        throw UsageError("bad range definition '" + def + "'");
    }
    const std::string zone = def.substr(0, first);
    const std::optional<std::uint32_t> seconds =
        ParseNumber<std::uint32_t>(std::string_view(def).substr(first + 1, second - first - 1));
    if ((zone != "utc" && zone != "local") || !seconds) {
        throw UsageError("bad range definition '" + def + "'");
    }
    return {zone == "utc", def.substr(second + 1), boost::posix_time::seconds(*seconds)};
}

void RunRange(const Invocation& invocation) {
    CCronRangeFinder finder;
    for (const std::string& def : invocation.operands) {
        finder.AddDefinition(ParseDefinition(def));
    }
    const auto range = finder.FindNextRange(FromOrNow(invocation));
    if (range) {
        std::cout << FormatTime(range->first) << ' ' << FormatTime(range->second) << '\n';
    } else {
        std::cout << "none\n";
    }
}

// What a command accepts and what it runs.
struct Command {
    std::string_view name;
    bool takesFrom;
    bool takesCount;
    bool takesManyOperands;  // one or more operands instead of exactly one
    void (*run)(const Invocation&);
};

constexpr Command kCommands[] = {
    {"next", true, true, false, RunNext},     {"prev", true, true, false, RunPrev},
    {"check", false, false, false, RunCheck}, {"last", false, false, false, RunLast},
    {"range", true, false, true, RunRange},
};

// Rejects options and operand counts the command does not take.
void CheckArguments(const Command& command, const Invocation& invocation) {
    if (invocation.from && !command.takesFrom) {
        throw UsageError("--from is not for " + invocation.command);
    }
    if (invocation.count && !command.takesCount) {
        throw UsageError("--count is not for " + invocation.command);
    }
    const std::size_t operands = invocation.operands.size();
    if (command.takesManyOperands && operands == 0) {
        throw UsageError("expected one or more DEFs");
    }
    if (!command.takesManyOperands && operands != 1) {
        throw UsageError("expected one TEXT");
    }
}

const Command& FindCommand(const Invocation& invocation) {
    for (const Command& command : kCommands) {
        if (command.name == invocation.command) {
            CheckArguments(command, invocation);
            return command;
        }
    }
    throw UsageError("unknown command '" + invocation.command + "'");
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help") {
            std::cout << kHelp;
            return 0;
        }
    }
    try {
        const Invocation invocation = ReadArguments(args);
        FindCommand(invocation).run(invocation);
        return 0;
    } catch (const UsageError& error) {
        std::cerr << "scheduler-cron: " << error.what() << '\n' << kUsage;
        return kExitUsage;
    } catch (const Zent::Scheduler::CCrontabValidationException& error) {
        std::cerr << error.what() << '\n';
        return kExitFailure;
    } catch (const std::exception& error) {
        std::cerr << "scheduler-cron: " << error.what() << '\n';
        return kExitFailure;
    }
}
