#pragma once

// What the stress run is built from: random choices, a book of request records, the report
// of failed checks and the seams of the loaded plug-in.

#include <sys/mman.h>

#include <Poco/SharedLibrary.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Scheduler/ModuleSeams.h"
#include "common/module/InterModuleException.h"
#include "common/module/ResponseException.h"
#include "tests/support/RethrowAs.h"

namespace Zent::Stress {

using SteadyClock = std::chrono::steady_clock;
using Rng = std::mt19937_64;

// Sanitizers and unoptimised code slow every thread down: timing allowances are this many
// times wider there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
inline constexpr int kSlowBuild = 5;
#else
inline constexpr int kSlowBuild = 1;
#endif

template <typename... Pieces>
std::string Text(const Pieces&... pieces) {
    std::ostringstream out;
    (out << ... << pieces);
    return out.str();
}

inline bool Chance(Rng& rng, double probability) {
    return std::bernoulli_distribution(probability)(rng);
}

template <typename Integer>
Integer Uniform(Rng& rng, Integer low, Integer high) {
    return std::uniform_int_distribution<Integer>(low, high)(rng);
}

// The index of one of `weights`, drawn in proportion to them.
inline int Weighted(Rng& rng, std::initializer_list<double> weights) {
    return std::discrete_distribution<int>(weights)(rng);
}

template <typename Array>
auto Pick(Rng& rng, const Array& values) {
    return values[Uniform<std::size_t>(rng, 0, std::size(values) - 1)];
}

// Zeroed records indexed by id from 1 to `capacity`, in memory mapped for them alone: pages
// are used only as ids are.
template <typename Record>
class CRecordBook {
public:
    explicit CRecordBook(std::uint32_t capacity)
        : bytes_((std::size_t{capacity} + 1) * sizeof(Record)) {
        void* memory = mmap(nullptr, bytes_, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (memory == MAP_FAILED) throw std::runtime_error("cannot map the request records");
        records_ = static_cast<Record*>(memory);
    }
    ~CRecordBook() { munmap(records_, bytes_); }
    CRecordBook(const CRecordBook&) = delete;
    CRecordBook& operator=(const CRecordBook&) = delete;

    Record& operator[](std::uint32_t id) { return records_[id]; }
    const Record& operator[](std::uint32_t id) const { return records_[id]; }

private:
    std::size_t bytes_;
    Record* records_;
};

// Polls `done` until it holds or `deadline` passes; whether it holds.
template <typename Done>
bool WaitUntil(Done done, SteadyClock::time_point deadline,
               SteadyClock::duration step = std::chrono::milliseconds(20)) {
    while (!done()) {
        if (SteadyClock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

// The text of the exception an error reply carries.
inline std::string ErrorText(const Common::Module::CResponseException& reply) {
    return reply.GetHolder()
               ? Testing::RethrowAs<Common::Module::CInterModuleException>(*reply.GetHolder())
               : "an error reply without an exception";
}

// Failed checks, counted by kind; the first few of each kind are shown on stderr.
class CViolations {
public:
    // Reports a failed check of kind `kind`. Any thread.
    void Report(const std::string& kind, const std::string& text) {
        std::lock_guard lock(lock_);
        ++count_;
        auto found = std::find_if(kinds_.begin(), kinds_.end(),
                                  [&kind](const Kind& known) { return known.name == kind; });
        if (found == kinds_.end()) found = kinds_.insert(found, {kind, 0});
        if (++found->count <= kShown) {
            std::fprintf(stderr, "VIOLATION (%s): %s\n", kind.c_str(), text.c_str());
        } else if (found->count == kShown + 1) {
            std::fprintf(stderr, "VIOLATION (%s): ... more of this kind are counted only\n",
                         kind.c_str());
        }
    }

    unsigned long long Count() const {
        std::lock_guard lock(lock_);
        return count_;
    }

    // The counts by kind and the verdict, on stdout.
    void PrintSummary() const {
        std::lock_guard lock(lock_);
        for (const Kind& kind : kinds_)
            std::printf("violations of kind \"%s\": %llu\n", kind.name.c_str(), kind.count);
        std::printf("violations: %llu\nRESULT: %s\n", count_, count_ == 0 ? "PASS" : "FAIL");
        std::fflush(stdout);
    }

private:
    static constexpr unsigned long long kShown = 5;
    struct Kind {
        std::string name;
        unsigned long long count;
    };
    mutable std::mutex lock_;
    unsigned long long count_ = 0;
    std::vector<Kind> kinds_;
};

// The seams of the plug-in at `path`, loaded (again) into this process.
class CModuleSeams {
public:
    explicit CModuleSeams(const std::string& path) : library_(path) {
        setClock_ = reinterpret_cast<decltype(&ZentSchedulerSetClock)>(
            library_.getSymbol(kZentSchedulerSetClockSymbol));
        setPeriods_ = reinterpret_cast<decltype(&ZentSchedulerSetObserverPeriods)>(
            library_.getSymbol(kZentSchedulerSetObserverPeriodsSymbol));
    }
    // The module's clock goes back to the system's, and the library may go.
    ~CModuleSeams() {
        setClock_(nullptr);
        setPeriods_(0, 0);
        library_.unload();
    }
    CModuleSeams(const CModuleSeams&) = delete;
    CModuleSeams& operator=(const CModuleSeams&) = delete;

    void SetClock(std::shared_ptr<Scheduler::IClock> clock) { setClock_(std::move(clock)); }
    void SetObserverPeriods(std::chrono::milliseconds check, std::chrono::milliseconds dump) {
        setPeriods_(check.count(), dump.count());
    }

private:
    Poco::SharedLibrary library_;
    decltype(&ZentSchedulerSetClock) setClock_ = nullptr;
    decltype(&ZentSchedulerSetObserverPeriods) setPeriods_ = nullptr;
};

}  // namespace Zent::Stress
