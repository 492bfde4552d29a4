#include "Commands.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string_view>

#include "Calendar.h"
#include "Explain.h"
#include "Scheduler/crontab/CronRangeFinder.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "TimeText.h"
#include "ZonedSearch.h"

namespace Zent::Tools::Cron {

namespace {

using boost::posix_time::ptime;
using Scheduler::CCronRangeFinder;
using Scheduler::CCronTab;
using Scheduler::CCrontabParser;
using Scheduler::CCrontabScheduler;

constexpr unsigned kDefaultCount = 5;
constexpr unsigned kDefaultMonths = 3;

// What every command needs: the command line, the clock reading and the output.
struct Context {
    const Invocation& invocation;
    ptime now;
    std::ostream& out;
    std::ostream& err;

    // The zone TEXT is read and times are shown in: UTC unless --tz or --local.
    Zone OutputZone() const {
        if (invocation.zone) {
            return Named(*invocation.zone);
        }
        return invocation.local ? Zone::Process() : Zone::Utc();
    }
    // Whether the lines carry weekday and offset.
    bool Zoned() const { return invocation.zone || invocation.local; }

    static Zone Named(const std::string& name) {
        try {
            return Zone::Named(name);
        } catch (const std::invalid_argument& error) {
            throw UsageError(error.what());
        }
    }

    // --from as a UTC instant, a wall time read in `zone`; now without --from.
    ptime From(const Zone& zone) const {
        if (!invocation.from) {
            return now;
        }
        const std::optional<TimeArgument> from = ParseTimeArgument(*invocation.from, now);
        if (!from) {
            throw UsageError("bad --from time '" + *invocation.from + "'");
        }
        return from->In(zone);
    }

    std::shared_ptr<CCronTab> Text() const {
        return CCrontabParser().Parse(invocation.operands.front());
    }
};

// Prints the occurrences a search hands over, as lines or as one JSON list.
void PrintOccurrences(const Context& context, const Zone& zone,
                      const std::function<void(const ZonedSearch::Visitor&)>& search) {
    std::ostream& out = context.out;
    if (context.invocation.json) {
        bool first = true;
        out << '[';
        search([&](const Occurrence& occurrence) {
            out << (first ? "\n  " : ",\n  ") << JsonTime(occurrence, zone);
            first = false;
        });
        out << (first ? "]\n" : "\n]\n");
        return;
    }
    search([&](const Occurrence& occurrence) {
        out << (context.Zoned() ? FormatZoned(occurrence) : FormatTime(occurrence.local)) << '\n';
    });
}

int RunNext(const Context& context) {
    const Zone zone = context.OutputZone();
    const ZonedSearch search(context.Text(), zone);
    const ptime from = context.From(zone);
    PrintOccurrences(context, zone, [&](const ZonedSearch::Visitor& visit) {
        search.Next(from, context.invocation.count.value_or(kDefaultCount), visit);
    });
    return 0;
}

int RunPrev(const Context& context) {
    const Zone zone = context.OutputZone();
    const ZonedSearch search(context.Text(), zone);
    const ptime from = context.From(zone);
    PrintOccurrences(context, zone, [&](const ZonedSearch::Visitor& visit) {
        search.Previous(from, context.invocation.count.value_or(kDefaultCount), visit);
    });
    return 0;
}

int RunCheck(const Context& context) {
    const std::shared_ptr<CCronTab> tab = context.Text();
    context.out << tab->GetText() << '\n';
    if (Scheduler::FindNext(*tab, ptime(boost::gregorian::date(1970, 1, 1))).is_not_a_date_time()) {
        context.err << "never fires\n";
        return kExitNeverFires;
    }
    return 0;
}

int RunLast(const Context& context) {
    const Zone zone = context.OutputZone();
    const std::shared_ptr<CCronTab> tab = context.Text();
    std::optional<Occurrence> last;
    if (CCrontabScheduler(tab).LastOccurrence()) {
        last = ZonedSearch(tab, zone).Latest();
    }
    std::ostream& out = context.out;
    if (context.invocation.json) {
        out << (last ? JsonTime(*last, zone) : "null") << '\n';
    } else if (!last) {
        out << "none\n";
    } else {
        out << (context.Zoned() ? FormatZoned(*last) : FormatTime(last->local)) << '\n';
    }
    return 0;
}

int RunExplain(const Context& context) {
    const Zone zone = context.OutputZone();
    const std::shared_ptr<CCronTab> tab = context.Text();
    const ptime from = context.From(zone);
    context.out << Explain(tab->GetText()) << '\n';
    bool any = false;
    ZonedSearch(tab, zone).Next(from, context.invocation.count.value_or(kDefaultCount),
                                [&](const Occurrence& occurrence) {
                                    if (!any) {
                                        context.out << "Next times (" << zone.Name() << "):\n";
                                    }
                                    any = true;
                                    context.out << "  " << FormatZoned(occurrence) << '\n';
                                });
    if (!any) {
        context.out << "No time from " << FormatTime(zone.ToLocal(from)) << " on (" << zone.Name()
                    << ") matches.\n";
    }
    return 0;
}

int RunCalendar(const Context& context) {
    const Zone zone = context.OutputZone();
    const ZonedSearch search(context.Text(), zone);
    const std::vector<MonthDays> months =
        FiringDays(search, zone.ToLocal(context.From(zone)).date(),
                   context.invocation.months.value_or(kDefaultMonths));
    if (context.invocation.json) {
        context.out << CalendarJson(months, zone) << '\n';
    } else {
        context.out << "Days marked * are days on which the text fires (" << zone.Name() << ").\n\n"
                    << FormatCalendar(months);
    }
    return 0;
}

// `utc:SECONDS:TEXT` or `local:SECONDS:TEXT`, split at the first two colons.
CCronRangeFinder::RangeDefinition ParseDefinition(const std::string& def) {
    const std::size_t first = def.find(':');
    const std::size_t second = first == std::string::npos ? first : def.find(':', first + 1);
    const std::string zone = def.substr(0, first);
    std::uint32_t seconds = 0;
    const bool bad = second == std::string::npos || (zone != "utc" && zone != "local") ||
                     std::from_chars(def.data() + first + 1, def.data() + second, seconds).ptr !=
                         def.data() + second;
    if (bad) {
        throw UsageError("bad range definition '" + def + "'");
    }
    return {zone == "utc", def.substr(second + 1), boost::posix_time::seconds(seconds)};
}

int RunRange(const Context& context) {
    const Invocation& invocation = context.invocation;
    CCronRangeFinder finder = invocation.zone
                                  ? CCronRangeFinder(Context::Named(*invocation.zone).Offsets())
                                  : CCronRangeFinder();
    for (const std::string& def : invocation.operands) {
        finder.AddDefinition(ParseDefinition(def));
    }
    const auto range = finder.FindNextRange(context.From(Zone::Utc()));
    std::ostream& out = context.out;
    if (invocation.json) {
        const Zone utc = Zone::Utc();
        const auto at = [&utc](ptime t) { return JsonTime({t, t, {}}, utc); };
        out << (range ? "{\"start\":" + at(range->first) + ",\"end\":" + at(range->second) + "}"
                      : "null")
            << '\n';
    } else if (range) {
        out << FormatTime(range->first) << ' ' << FormatTime(range->second) << '\n';
    } else {
        out << "none\n";
    }
    return 0;
}

}  // namespace

std::optional<std::string> RefusedText(const Invocation& invocation) {
    if (invocation.command != "range") {
        return invocation.operands.front();
    }
    for (const std::string& def : invocation.operands) {
        const std::string text = ParseDefinition(def).text;
        try {
            CCrontabParser().Parse(text);
        } catch (const Scheduler::CCrontabValidationException&) {
            return text;
        }
    }
    return std::nullopt;
}

int RunCommand(const Invocation& invocation, ptime now, std::ostream& out, std::ostream& err) {
    static const std::map<std::string_view, int (*)(const Context&)> kRunners = {
        {"next", RunNext},       {"prev", RunPrev},         {"check", RunCheck}, {"last", RunLast},
        {"explain", RunExplain}, {"calendar", RunCalendar}, {"range", RunRange},
    };
    return kRunners.at(invocation.command)(Context{invocation, now, out, err});
}

}  // namespace Zent::Tools::Cron
