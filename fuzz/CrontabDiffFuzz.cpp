// Differential libFuzzer target for the crontab searches: for every text the parser
// accepts, FindNext and FindPrevious from a few start times taken from the input are
// compared with the naive reference of the tests (tests/support/NaiveCrontab.h). The
// reference walks at most two years of days; when it gives up, the engine must at least
// have found nothing inside the days it walked. A disagreement aborts with the text, the
// start, what the reference expected and what the engine gave.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/gregorian/gregorian.hpp>
#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "fuzz/FuzzInput.h"
#include "tests/support/NaiveCrontab.h"

namespace {

using boost::gregorian::date;
using boost::gregorian::days;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using Zent::Scheduler::CCronTab;
using Zent::Scheduler::CCrontabParser;
using Zent::Testing::Direction;

const date kFirstDay(1970, 1, 1);
const date kLastDay(2099, 12, 31);
const ptime kFirstSecond(kFirstDay);
const ptime kLastSecond(kLastDay, seconds(86399));
// How many days the reference walks before it gives up: two years.
constexpr int kScanDays = 731;

void Compare(const CCronTab& tab, ptime t, Direction direction) {
    const bool next = direction == Direction::kNext;
    const ptime got = next ? FindNext(tab, t) : FindPrevious(tab, t);
    const Zent::Testing::NaiveVerdict verdict = NaiveSearch(tab, t, direction, kScanDays);
    std::string expected;
    if (verdict.found && got != *verdict.found) {
        expected = boost::posix_time::to_simple_string(*verdict.found);
    } else if (!verdict.found && !got.is_not_a_date_time() &&
               (next ? got.date() <= verdict.walkedTo : got.date() >= verdict.walkedTo)) {
        expected = "no match through " + boost::gregorian::to_simple_string(verdict.walkedTo);
    }
    if (expected.empty()) return;
    std::cerr << "crontab search disagrees with the reference: "
              << (next ? "FindNext" : "FindPrevious") << "\n  text:     \"" << tab.GetText()
              << "\"\n  start:    " << t << "\n  expected: " << expected << "\n  got:      " << got
              << std::endl;
    std::abort();
}

// The ends of the supported years; a time anywhere in 1965..2104 with a fraction; a time
// in one of the crontab's own years; and the last second of a month of that year and the
// first second after it, where the month-end rules turn.
std::vector<ptime> StartTimes(const CCronTab& tab, std::uint64_t hash) {
    const ptime from(date(1965, 1, 1));
    const std::uint64_t span = 140ull * 366 * 86400;
    const ptime anywhere =
        from + seconds(static_cast<long>(hash % span)) +
        boost::posix_time::microseconds(static_cast<long>((hash >> 44) % 1000000));

    std::vector<int> years;
    for (int year = kFirstDay.year(); year <= kLastDay.year(); ++year) {
        if (tab.Year().Contains(year)) years.push_back(year);
    }
    const int year = years.empty() ? 2030 : years[(hash >> 16) % years.size()];
    const ptime inYear(date(year, 1, 1) + days(static_cast<long>((hash >> 24) % 365)),
                       seconds(static_cast<long>((hash >> 33) % 86400)));
    const date monthEnd =
        date(year, static_cast<unsigned short>(1 + (hash >> 52) % 12), 1).end_of_month();
    const ptime lastOfMonth(monthEnd, seconds(86399));

    return {kFirstSecond, kLastSecond, anywhere, inYear, lastOfMonth, lastOfMonth + seconds(1)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CCrontabParser parser(Zent::Fuzz::NextRandom);
    const std::uint64_t hash = Zent::Fuzz::InputHash(data, size);
    Zent::Fuzz::ReseedRandom(hash);
    std::shared_ptr<CCronTab> tab;
    try {
        tab = parser.Parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const Zent::Scheduler::CCrontabValidationException&) {
        return 0;
    }
    for (const ptime& t : StartTimes(*tab, hash)) {
        Compare(*tab, t, Direction::kNext);
        Compare(*tab, t, Direction::kPrevious);
    }
    return 0;
}
