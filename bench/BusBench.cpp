// Requests through the bus: the substitute kernel loads the real plug-in, and a client
// sends it ValidateTimeEvent and GetNextOccurrencesByUserData requests, measuring the
// round trip with one request in flight and the throughput with a window of requests in
// flight.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "BenchTable.h"
#include "BusClient.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"

namespace {

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
