#include "CommandLine.h"

#include <charconv>
#include <string_view>

#include <CLI/CLI.hpp>

namespace Zent::Tools::Cron {

const char* const kHelp =
    "Usage: scheduler-cron [OPTION]... COMMAND TEXT\n"
    "       scheduler-cron [OPTION]... range DEF...\n"
    "Answers questions about crontab texts (six or seven fields: second minute hour\n"
    "day-of-month month day-of-week [year], exactly one day field `?`).\n"
    "\n"
    "Commands:\n"
    "  next TEXT       the first match at or after --from, then each following match: at\n"
    "                  most --count lines, fewer when the matches run out before 2100\n"
    "  prev TEXT       the same backwards: the last match at or before --from, then\n"
    "                  strictly earlier ones, back to 1970\n"
    "  check TEXT      prints TEXT with its white space normalised when it parses; says\n"
    "                  \"never fires\" on stderr (exit status 3) when no second matches\n"
    "  last TEXT       the last occurrence of all, or `none` when its years are unbounded\n"
    "                  (no year field, or one holding `*` or `*/n`) or it never matches\n"
    "  explain TEXT    says in plain English when TEXT fires, then its next --count times\n"
    "  calendar TEXT   month grids from the month of --from, days on which TEXT fires\n"
    "                  marked `*`\n"
    "  range DEF...    among the ranges opened by the definitions, the one with the\n"
    "                  earliest start that has not ended at --from, as `START END` in UTC,\n"
    "                  or `none`. A DEF is `utc:SECONDS:TEXT` or `local:SECONDS:TEXT`: every\n"
    "                  match of TEXT opens a range of SECONDS seconds; local texts are read\n"
    "                  in the zone of --tz, else in that of TZ (one offset, read at --from).\n"
    "                  On equal starts the earlier DEF wins.\n"
    "\n"
    "Options:\n"
    "  --from TIME     the time to search from (default: now); see TIME below\n"
    "  --count N       the number of times next, prev and explain print at most\n"
    "                  (N >= 1, default 5)\n"
    "  --months N      the number of months calendar shows (N >= 1, default 3)\n"
    "  --utc           read TEXT in UTC and show times in UTC (the default)\n"
    "  --tz ZONE       read TEXT in the IANA time zone ZONE (`Europe/Berlin`) and show\n"
    "                  times there, each with its weekday and UTC offset; for range, the\n"
    "                  zone of its local definitions\n"
    "  --local         as --tz with the zone of the process (TZ)\n"
    "  --json          JSON for next, prev, last, range and calendar: ISO 8601 times with\n"
    "                  their offset, Unix seconds and weekday\n"
    "  -h, --help      prints this text and exits\n"
    "  --version       prints the version and exits\n"
    "\n"
    "TIME is `now`, a date `YYYY-MM-DD` (its midnight), or `YYYY-MM-DD HH:MM[:SS[.ffffff]]`\n"
    "with a blank or `T` before the time and an optional `Z` or `+HH:MM` offset. A TIME\n"
    "without offset is read in the zone of the output (UTC unless --tz or --local; always\n"
    "UTC for range). next and prev drop the fraction, so a matching TIME is its own answer.\n"
    "In a zone, a wall time that a change of offset skips never fires, and one it repeats\n"
    "fires once, at its first instant.\n"
    "Times are printed as `YYYY-MM-DD HH:MM:SS`. The engine knows the years 1970 to 2099.\n"
    "\n"
    "Exit status: 0 on success (also when next or prev find nothing); 1 when a crontab\n"
    "text does not parse: the engine's reason on the first line of stderr, then where the\n"
    "fault lies and hints; 2 on wrong usage; 3 when check finds a text that never fires.\n";

namespace {

struct CommandRules {
    std::string_view name;
    bool manyOperands;  // one or more DEFs instead of exactly one TEXT
    bool from, count, months, zones, json;
};

// clang-format off
constexpr CommandRules kCommands[] = {
    // name        many   from   count  months zones  json
    {"next",       false, true,  true,  false, true,  true},
    {"prev",       false, true,  true,  false, true,  true},
    {"check",      false, false, false, false, false, false},
    {"last",       false, false, false, false, true,  true},
    {"explain",    false, true,  true,  false, true,  false},
    {"calendar",   false, true,  false, true,  true,  true},
    {"range",      true,  true,  false, false, false, true},
};
// clang-format on

unsigned PositiveNumber(const std::string& option, const std::string& value) {
    unsigned number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (error != std::errc() || end != value.data() + value.size() || number == 0) {
        throw UsageError("bad " + option + " '" + value + "'");
    }
    return number;
}

void Refuse(bool given, const std::string& option, const std::string& command) {
    if (given) {
        throw UsageError(option + " is not for " + command);
    }
}

void CheckAgainst(const CommandRules& rules, const Invocation& invocation) {
    const std::string& command = invocation.command;
    Refuse(invocation.from && !rules.from, "--from", command);
    Refuse(invocation.count && !rules.count, "--count", command);
    Refuse(invocation.months && !rules.months, "--months", command);
    Refuse(invocation.json && !rules.json, "--json", command);
    const bool range = rules.name == "range";
    Refuse(invocation.zone && !rules.zones && !range, "--tz", command);
    Refuse(invocation.local && !rules.zones, "--local", command);
    Refuse(invocation.utc && !rules.zones, "--utc", command);
    if (invocation.local + invocation.utc + invocation.zone.has_value() > 1) {
        throw UsageError("give one of --tz, --local and --utc");
    }
    const std::size_t operands = invocation.operands.size();
    if (rules.manyOperands && operands == 0) {
        throw UsageError("expected one or more DEFs");
    }
    if (!rules.manyOperands && operands != 1) {
        throw UsageError("expected one TEXT");
    }
}

}  // namespace

CommandLine ReadCommandLine(int argc, const char* const argv[]) {
    CLI::App app("scheduler-cron", "scheduler-cron");
    app.set_version_flag("--version", "scheduler-cron " SCHEDULER_CRON_VERSION);
    app.fallthrough();
    Invocation invocation;
    std::optional<std::string> count;
    std::optional<std::string> months;
    std::vector<std::string> strays;
    app.add_option("--from", invocation.from);
    app.add_option("--count", count);
    app.add_option("--months", months);
    app.add_option("--tz", invocation.zone);
    app.add_flag("--local", invocation.local);
    app.add_flag("--utc", invocation.utc);
    app.add_flag("--json", invocation.json);
    app.add_option("command", strays);
    for (const CommandRules& rules : kCommands) {
        CLI::App* command = app.add_subcommand(std::string(rules.name));
        command->set_help_flag();  // --help after the command is the tool's help
        command->add_option("operands", invocation.operands);
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return {std::nullopt, kHelp};
    } catch (const CLI::CallForVersion& version) {
        return {std::nullopt, std::string(version.what()) + '\n'};
    } catch (const CLI::ArgumentMismatch& error) {
        const std::string_view what = error.what();
        throw UsageError("option " + std::string(what.substr(0, what.find(':'))) +
                         " needs a value");
    } catch (const CLI::ExtrasError& error) {
        const std::string_view what = error.what();
        const std::string_view extra = what.substr(what.find(": ") + 2);
        throw UsageError((extra.starts_with('-') ? "unknown option " : "unexpected argument ") +
                         std::string(extra.substr(0, extra.find('='))));
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    if (!strays.empty()) {
        throw UsageError("unknown command '" + strays.front() + "'");
    }
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (chosen.empty()) {
        throw UsageError("no command");
    }
    invocation.command = chosen.front()->get_name();
    if (count) {
        invocation.count = PositiveNumber("--count", *count);
    }
    if (months) {
        invocation.months = PositiveNumber("--months", *months);
    }
    for (const CommandRules& rules : kCommands) {
        if (rules.name == invocation.command) {
            CheckAgainst(rules, invocation);
        }
    }
    return {invocation, {}};
}

}  // namespace Zent::Tools::Cron
