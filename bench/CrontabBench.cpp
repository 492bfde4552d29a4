// Benchmarks of the crontab engine: parsing (time and heap allocations), the two searches
// over dense, typical, sparse and never-matching texts, the scheduler facade, counting
// occurrences up to a limit, and the range finder.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "BenchTable.h"
#include "Scheduler/crontab/CronRangeFinder.h"
#include "Scheduler/crontab/CronTab.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"

// Every heap allocation of the process is counted, so that a benchmark can report how many
// one operation makes. Kept out of line, so that the compiler never pairs a built-in new
// with the free below.
std::atomic<std::uint64_t> gAllocations{0};

[[gnu::noinline]] void* operator new(std::size_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

[[gnu::noinline]] void operator delete(void* memory) noexcept {
    std::free(memory);
}

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace {

using boost::posix_time::ptime;
using Zent::Scheduler::CCronRangeFinder;
using Zent::Scheduler::CCronTab;
using Zent::Scheduler::CCrontabParser;
using Zent::Scheduler::CCrontabScheduler;

const std::vector<std::string> kParseTexts = {
    "0 30 8 ? * mon-fri",
    "* * * * * ?",
    "0 */5 * * * ?",
    "0 0 12 ? * 5#5",
    "0 15 10 L-3,15W JAN-MAR,oct ? 2030-2040",
    "0 0/15 8-17 ? * MONDAY,FRIL",
};

const std::vector<std::string> kSearchTexts = {
    "* * * * * ?",         // dense: every second
    "0 */5 * * * ?",       // typical
    "0 30 8 ? * mon-fri",  // typical
    "0 0 12 ? * 5#5",      // sparse: months with five Fridays
    "0 0 0 29 2 ?",        // sparse: leap days
    "0 0 9 LW * ?",        // sparse: last weekday of the month
    "0 0 0 1 1 ? 2099",    // sparse: one second in 2099
    "0 0 0 30 2 ?",        // never matches
    // never matches either, and no month shape rules it out: February with five Fridays
    // in every year listed but the leap years that start on a Friday
    "0 0 12 ? 2 5#5 1970-1979,1981-2007,2009-2035,2037-2063,2065-2091,2093-2099",
};

// Start times spread over 1970-01-01 .. 2098-12-31, the same on every run; a search loop
// cycles through them so that no single start dominates.
constexpr std::size_t kStartCount = 4096;

const std::array<ptime, kStartCount>& StartTimes() {
    static const std::array<ptime, kStartCount> starts = [] {
        const ptime first(boost::gregorian::date(1970, 1, 1));
        const ptime last(boost::gregorian::date(2098, 12, 31), boost::posix_time::hours(24));
        const std::uint64_t span = (last - first).total_seconds();
        std::mt19937_64 random(20300107);
        std::array<ptime, kStartCount> result;
        for (ptime& start : result) {
            start = first + boost::posix_time::seconds(static_cast<long>(random() % span));
        }
        return result;
    }();
    return starts;
}

std::string Name(const char* benchmark, const std::string& text) {
    return std::string(benchmark) + "/\"" + text + "\"";
}

void Parse(benchmark::State& state, const std::string& text) {
    CCrontabParser parser;
    const std::uint64_t before = gAllocations.load(std::memory_order_relaxed);
    for (auto _ : state) {
        benchmark::DoNotOptimize(parser.Parse(text));
    }
    const std::uint64_t allocations = gAllocations.load(std::memory_order_relaxed) - before;
    state.counters["allocations"] =
        static_cast<double>(allocations) / static_cast<double>(state.iterations());
}

// Runs `search(crontab, start)` over the start times in turn.
template <typename Search>
void Searches(benchmark::State& state, const std::string& text, Search search) {
    const std::shared_ptr<CCronTab> crontab = CCrontabParser().Parse(text);
    const std::array<ptime, kStartCount>& starts = StartTimes();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(search(*crontab, starts[i]));
        i = (i + 1) % kStartCount;
    }
}

void FindNext(benchmark::State& state, const std::string& text) {
    Searches(state, text,
             [](const CCronTab& tab, ptime t) { return Zent::Scheduler::FindNext(tab, t); });
}

void FindPrevious(benchmark::State& state, const std::string& text) {
    Searches(state, text,
             [](const CCronTab& tab, ptime t) { return Zent::Scheduler::FindPrevious(tab, t); });
}

void NextOccurrence(benchmark::State& state, const std::string& text) {
    const CCrontabScheduler scheduler(CCrontabParser().Parse(text));
    const ptime until = Zent::Scheduler::LatestSupportedInstant();
    const std::array<ptime, kStartCount>& starts = StartTimes();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scheduler.NextOccurrence(starts[i], until));
        i = (i + 1) % kStartCount;
    }
}

// The most work counting can take: every second of 1970..2099 matches, no end but 2099 and
// the largest limit, so that every month of the range is counted.
void NthOccurrenceWorstCase(benchmark::State& state, const std::string& text) {
    const CCrontabScheduler scheduler(CCrontabParser().Parse(text));
    const ptime from(boost::gregorian::date(1969, 12, 31),
                     boost::posix_time::hours(24) - boost::posix_time::seconds(1));
    const ptime until = Zent::Scheduler::LatestSupportedInstant();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            scheduler.NthOccurrence(from, until, std::numeric_limits<std::uint32_t>::max()));
    }
}

void FindNextRange(benchmark::State& state) {
    CCronRangeFinder finder;
    finder.AddDefinition({true, "0 0 8 ? * mon-fri", boost::posix_time::hours(1)});
    finder.AddDefinition({true, "0 30 12 1,15 * ?", boost::posix_time::minutes(30)});
    finder.AddDefinition({false, "0 0 22 ? * sun", boost::posix_time::hours(2)});
    const std::array<ptime, kStartCount>& starts = StartTimes();
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(finder.FindNextRange(starts[i]));
        i = (i + 1) % kStartCount;
    }
}

void RegisterAll() {
    for (const std::string& text : kParseTexts) {
        benchmark::RegisterBenchmark(Name("BM_Parse", text).c_str(), Parse, text);
    }
    for (const std::string& text : kSearchTexts) {
        benchmark::RegisterBenchmark(Name("BM_FindNext", text).c_str(), FindNext, text);
    }
    for (const std::string& text : kSearchTexts) {
        benchmark::RegisterBenchmark(Name("BM_FindPrevious", text).c_str(), FindPrevious, text);
    }
    for (const std::string& text : {kSearchTexts[1], kSearchTexts[2], kSearchTexts[3]}) {
        benchmark::RegisterBenchmark(Name("BM_NextOccurrence", text).c_str(), NextOccurrence, text);
    }
    for (const std::string& text : {kSearchTexts[0], std::string("0 0 9 LW * ?")}) {
        benchmark::RegisterBenchmark(Name("BM_NthOccurrence/4294967295 of", text).c_str(),
                                     NthOccurrenceWorstCase, text)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("BM_FindNextRange/3 definitions", FindNextRange);
}

// The bound a benchmark's CPU time must stay under, in ns; empty when it has none.
std::string TargetFor(const std::string& name) {
    if (name == Name("BM_Parse", "0 30 8 ? * mon-fri")) return "< 250";
    if (name.rfind("BM_Parse/", 0) == 0) return "< 400";
    if (name.rfind("BM_NextOccurrence/", 0) == 0) return "< 35";
    for (const char* search : {"BM_FindNext/", "BM_FindPrevious/"}) {
        if (name.rfind(search, 0) != 0) continue;
        if (name.find("5#5 1970-1979") != std::string::npos) return "< 300";
        const bool dense = name.find("\"* * * * * ?\"") != std::string::npos ||
                           name.find("\"0 */5 * * * ?\"") != std::string::npos;
        return dense ? "< 20" : "< 35";
    }
    if (name.rfind("BM_NthOccurrence/", 0) == 0) return "< 100000";
    if (name.rfind("BM_FindNextRange/", 0) == 0) return "< 600";
    return "";
}

// The heap allocations of one parse: at most two (the crontab and its text).
constexpr double kMaxParseAllocations = 2;

// Prints the medians (or the single runs) as rows of the project's benchmark table.
class CTableReporter : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (!median && !single) continue;
            const std::string name = run.run_name.str();
            const double nanoseconds = run.GetAdjustedCPUTime() *
                                       benchmark::GetTimeUnitMultiplier(benchmark::kNanosecond) /
                                       benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string target = TargetFor(name);
            const bool pass = target.empty() || nanoseconds < std::stod(target.substr(2));
            rows_.push_back({name, nanoseconds, "ns", target, pass});
            if (const auto found = run.counters.find("allocations"); found != run.counters.end()) {
                const double allocations = found->second.value;
                rows_.push_back({name + " allocations", allocations, "count", "<= 2",
                                 allocations <= kMaxParseAllocations});
            }
        }
    }
    void Finalize() override { PrintBenchTable(rows_, true); }
    bool AllPassed() const { return AllPass(rows_); }

private:
    std::vector<BenchRow> rows_;
};

}  // namespace

// --table prints the project's benchmark table (CPU time of the median run, with the
// targets) instead of Google Benchmark's own report.
int main(int argc, char** argv) {
    const bool table = HasFlag(argc, argv, "--table");
    std::vector<char*> arguments;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) != "--table") arguments.push_back(argv[i]);
    }
    int count = static_cast<int>(arguments.size());
    RegisterAll();
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return 1;
    }
    bool pass = true;
    if (table) {
        CTableReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        pass = reporter.AllPassed();
    } else {
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return pass ? 0 : 1;
}
