// Requests through the bus: the substitute kernel loads the real plug-in, and a client
// sends it ValidateTimeEvent and GetNextOccurrencesByUserData requests, measuring the
// round trip with one request in flight and the throughput with a window of requests in
// flight. The clock is the machine's; detail lines are dropped, as in production.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "BenchTable.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/MessageTypes.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/Response.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"

namespace {

using namespace std::chrono_literals;
namespace Kernel = Zent::Common::Kernel;
namespace Messages = Zent::Common::Message::Scheduler;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kRoundTrips = 5000;   // one in flight
constexpr std::uint32_t kPipelined = 100000;  // kWindow in flight
constexpr std::uint32_t kWindow = 64;
constexpr std::uint32_t kOccurrencesAsked = 10;

// The user data of the registration the next-occurrences requests ask about.
class CBenchTick : public Kernel::IMessage {
public:
    std::int32_t GetType() const override { return 9200; }
    std::string GetTypeName() const override { return "BenchTick"; }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        return dynamic_cast<const CBenchTick*>(other.get()) != nullptr;
    }
};

TimeEvent Event(const char* text) {
    TimeEvent event;
    event.set_timespecification(text);
    event.set_utclocal(true);
    return event;
}

// Sends requests with ids 1, 2, ... and waits for their replies, which the bus observer
// hands over. Every request is answered exactly once; a missing reply ends the run.
class CBusClient {
public:
    using MakeRequest = std::function<std::shared_ptr<Kernel::IMessage>(std::uint32_t id)>;

    CBusClient() : host_(HostOptions()) {
        host_.GetBus().AddObserver([this](const std::shared_ptr<Kernel::IMessage>& message,
                                          const Kernel::UserContextPtr&) {
            if (const auto* reply =
                    dynamic_cast<const Zent::Common::Module::CResponse*>(message.get())) {
                OnReply(reply->GetRequestId());
            }
        });
        host_.Load(SCHEDULER_LIBRARY);
        host_.Initialize();
        host_.Start();
    }
    ~CBusClient() {
        host_.PrepareShutdown();
        while (!host_.Stop(false))
            std::this_thread::sleep_for(10ms);
        host_.Unload();
    }

    // Sends `count` requests keeping at most `window` unanswered; returns the round trip
    // of each in microseconds.
    std::vector<std::int64_t> Run(std::uint32_t count, std::uint32_t window,
                                  const MakeRequest& make) {
        {
            std::lock_guard lock(mutex_);
            sentAt_.assign(count, {});
            roundTrips_.assign(count, -1);
            firstId_ = nextId_;
            answered_ = 0;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            std::unique_lock lock(mutex_);
            if (!replied_.wait_for(lock, 10s, [&] { return i - answered_ < window; })) {
                throw std::runtime_error("a reply did not come within 10 s");
            }
            const std::uint32_t id = nextId_++;
            sentAt_[id - firstId_] = SteadyClock::now();
            lock.unlock();
            if (!host_.Send(make(id), context_)) throw std::runtime_error("the bus refused");
        }
        std::unique_lock lock(mutex_);
        if (!replied_.wait_for(lock, 10s, [&] { return answered_ == count; })) {
            throw std::runtime_error("a reply did not come within 10 s");
        }
        if (doubled_) throw std::runtime_error("a request was answered twice");
        return roundTrips_;
    }

private:
    static Zent::Host::CSchedulerHost::Options HostOptions() {
        Zent::Host::CSchedulerHost::Options options;
        options.minimumLogLevel = 2;
        options.logSink = [](const Zent::Host::LogRecord&) {};
        return options;
    }

    void OnReply(std::uint32_t id) {
        const SteadyClock::time_point now = SteadyClock::now();
        std::lock_guard lock(mutex_);
        if (id < firstId_ || id - firstId_ >= roundTrips_.size()) return;  // an earlier run's
        std::int64_t& roundTrip = roundTrips_[id - firstId_];
        if (roundTrip >= 0) {
            doubled_ = true;
            return;
        }
        roundTrip =
            std::chrono::duration_cast<std::chrono::microseconds>(now - sentAt_[id - firstId_])
                .count();
        ++answered_;
        replied_.notify_one();
    }

    Zent::Host::CSchedulerHost host_;
    std::shared_ptr<Zent::Common::Security::CUserContext> context_ =
        std::make_shared<Zent::Common::Security::CUserContext>();
    std::mutex mutex_;
    std::condition_variable replied_;
    std::uint32_t nextId_ = 1;
    std::uint32_t firstId_ = 1;
    std::uint32_t answered_ = 0;
    bool doubled_ = false;
    std::vector<SteadyClock::time_point> sentAt_;
    std::vector<std::int64_t> roundTrips_;
};

void Measure(CBusClient& client, const std::string& label, const CBusClient::MakeRequest& make,
             std::vector<BenchRow>& rows) {
    client.Run(500, 1, make);  // warm-up
    std::vector<std::int64_t> single = client.Run(kRoundTrips, 1, make);
    std::sort(single.begin(), single.end());
    rows.push_back(
        {label + ", 1 in flight: round trip p50", Percentile(single, 0.50) / 1e3, "ms", ""});
    rows.push_back(
        {label + ", 1 in flight: round trip p99", Percentile(single, 0.99) / 1e3, "ms", ""});

    const auto start = SteadyClock::now();
    std::vector<std::int64_t> pipelined = client.Run(kPipelined, kWindow, make);
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    std::sort(pipelined.begin(), pipelined.end());
    rows.push_back({label + ", " + std::to_string(kWindow) + " in flight: throughput",
                    kPipelined / seconds, "req/s", ""});
    rows.push_back({label + ", " + std::to_string(kWindow) + " in flight: round trip p99",
                    Percentile(pipelined, 0.99) / 1e3, "ms", ""});
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<BenchRow> rows;
        CBusClient client;
        Measure(
            client, "Bus: ValidateTimeEvent",
            [](std::uint32_t id) {
                auto request = std::make_shared<Messages::CValidateTimeEvent>(id);
                request->SetTimeEvent(Event("0 30 8 ? * mon-fri"));
                return request;
            },
            rows);

        client.Run(1, 1, [](std::uint32_t id) {
            auto registration = std::make_shared<Messages::CRegisterTimeEvent>(id);
            registration->SetTimeEvent(Event("0 */5 * * * ?"));
            registration->SetUserData(std::make_shared<CBenchTick>());
            return registration;
        });
        Measure(
            client, "Bus: GetNextOccurrences (" + std::to_string(kOccurrencesAsked) + ")",
            [](std::uint32_t id) {
                auto request = std::make_shared<Messages::CGetNextOccurrencesByUserDataRequest>(id);
                request->SetUserData(std::make_shared<CBenchTick>());
                request->SetCount(kOccurrencesAsked);
                return request;
            },
            rows);
        PrintBenchTable(rows, !HasFlag(argc, argv, "--no-header"));
        return AllPass(rows) ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bus_bench: %s\n", e.what());
        return EXIT_FAILURE;
    }
}
