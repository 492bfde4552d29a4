// libFuzzer target for the crontab engine: arbitrary bytes go to the parser; every text
// that parses is searched from several times, and the searches' contract is checked.
// A broken contract aborts with a description of what went wrong.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "fuzz/FuzzInput.h"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;
using Zent::Fuzz::InputHash;
using Zent::Fuzz::NextRandom;
using Zent::Fuzz::ReseedRandom;
using Zent::Scheduler::CCronTab;
using Zent::Scheduler::CCrontabParser;
using Zent::Scheduler::CCrontabScheduler;
using Zent::Scheduler::FindNext;
using Zent::Scheduler::FindPrevious;

const ptime kFirstSecond(boost::gregorian::date(1970, 1, 1));
const ptime kLastSecond(boost::gregorian::date(2099, 12, 31), seconds(86399));

// Fixed times at and around the ends of the supported years, and two taken from the
// input anywhere in 1965..2104, one of them with a fraction.
std::vector<ptime> StartTimes(std::uint64_t hash) {
    const ptime from(boost::gregorian::date(1965, 1, 1));
    const std::uint64_t span = 140ull * 366 * 86400;
    const ptime derived = from + seconds(static_cast<long>(hash % span));
    return {kFirstSecond,
            kLastSecond,
            ptime(boost::gregorian::date(1969, 12, 31), seconds(86399)),
            ptime(boost::gregorian::date(2100, 1, 1)),
            boost::posix_time::time_from_string("2050-06-15 12:34:56.5"),
            derived,
            derived + boost::posix_time::microseconds(static_cast<long>((hash >> 40) % 1000000))};
}

ptime WholeSecond(ptime t) {
    return t - boost::posix_time::microseconds(t.time_of_day().fractional_seconds());
}

bool IsSupported(ptime t) {
    return t >= kFirstSecond && t <= kLastSecond;
}

// Aborts with a description unless `holds`.
void Require(bool holds, const CCronTab& tab, const char* what, ptime from, ptime got) {
    if (holds) {
        return;
    }
    std::cerr << "crontab contract broken: " << what << "\n  text: \"" << tab.GetText()
              << "\"\n  from: " << from << "\n  got:  " << got << std::endl;
    std::abort();
}

bool Found(ptime t) {
    return !t.is_not_a_date_time();
}

// FindNext(t) is a whole matching second at or after t with no match between t and it; it
// finds nothing only when no match follows t.
void CheckNext(const CCronTab& tab, ptime t) {
    const ptime start = WholeSecond(t);
    const ptime next = FindNext(tab, t);
    if (!Found(next)) {
        const ptime last = FindPrevious(tab, kLastSecond);
        Require(!IsSupported(start) || !Found(last) || last < start, tab, "FindNext missed", t,
                last);
        return;
    }
    Require(IsSupported(start), tab, "FindNext from outside the years", t, next);
    Require(IsSupported(next) && next >= start, tab, "FindNext before t", t, next);
    Require(WholeSecond(next) == next, tab, "FindNext with a fraction", t, next);
    Require(FindNext(tab, next) == next, tab, "FindNext of a match moved", t, next);
    Require(FindPrevious(tab, next) == next, tab, "FindPrevious of a match moved", t, next);
    const ptime before = FindPrevious(tab, next - seconds(1));
    Require(!Found(before) || before < start, tab, "FindNext skipped", t, before);
}

// FindPrevious(t) is a whole matching second at or before t with no match between it and
// t; it finds nothing only when no match precedes t.
void CheckPrevious(const CCronTab& tab, ptime t) {
    const ptime start = WholeSecond(t);
    const ptime previous = FindPrevious(tab, t);
    if (!Found(previous)) {
        const ptime first = FindNext(tab, kFirstSecond);
        Require(start < kFirstSecond || !Found(first) || first > start, tab, "FindPrevious missed",
                t, first);
        return;
    }
    Require(start >= kFirstSecond, tab, "FindPrevious before 1970", t, previous);
    Require(IsSupported(previous) && previous <= start, tab, "FindPrevious after t", t, previous);
    Require(WholeSecond(previous) == previous, tab, "FindPrevious with a fraction", t, previous);
    Require(FindPrevious(tab, previous) == previous, tab, "FindPrevious of a match moved", t,
            previous);
    const ptime after = FindNext(tab, previous + seconds(1));
    Require(!Found(after) || after > start, tab, "FindPrevious skipped", t, after);
}

// A special time point is no start: both searches give not-a-date-time.
void CheckSpecialTimes(const CCronTab& tab) {
    using namespace boost::posix_time;
    for (const ptime t : {ptime(not_a_date_time), ptime(pos_infin), ptime(neg_infin)}) {
        Require(!Found(FindNext(tab, t)), tab, "FindNext of a special time", t, FindNext(tab, t));
        Require(!Found(FindPrevious(tab, t)), tab, "FindPrevious of a special time", t,
                FindPrevious(tab, t));
    }
}

// The last occurrence of a crontab with bounded years has no match after it.
void CheckLastOccurrence(const std::shared_ptr<CCronTab>& tab) {
    const std::optional<ptime> last = CCrontabScheduler(tab).LastOccurrence();
    if (last) {
        const ptime after = FindNext(*tab, *last + seconds(1));
        Require(!Found(after), *tab, "a match after the last occurrence", *last, after);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CCrontabParser parser(NextRandom);
    const std::uint64_t hash = InputHash(data, size);
    ReseedRandom(hash);
    std::shared_ptr<CCronTab> tab;
    try {
        tab = parser.Parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Zent::Scheduler::CCrontabValidationException&) {
        return 0;
    }
    Require(parser.Parse(tab->GetText())->GetText() == tab->GetText(), *tab,
            "the normalised text does not parse to itself", ptime(), ptime());
    for (const ptime& t : StartTimes(hash)) {
        CheckNext(*tab, t);
        CheckPrevious(*tab, t);
    }
    CheckSpecialTimes(*tab);
    CheckLastOccurrence(tab);
    return 0;
}
