// Construction, threads, tick handlers, the registry of events and the formatting of the
// time scheduler's log lines.
//
// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

#include "Scheduler/timescheduler/TimeScheduler.h"

#include <algorithm>
#include <cstdio>

#include <boost/date_time/posix_time/posix_time.hpp>
#include <boost/random/random_device.hpp>

namespace Zent::Scheduler {

namespace Texts = TimeSchedulerTexts;

namespace {

std::function<std::uint32_t()> SystemRandom() {
    return [device = std::make_shared<boost::random::random_device>()] { return (*device)(); };
}

}  // namespace

CTimeScheduler::CTimeScheduler(const Common::Library::Logging::CLoggerBridge& parentLogger)
    : CTimeScheduler(parentLogger, Options{}) {}

CTimeScheduler::CTimeScheduler(const Common::Library::Logging::CLoggerBridge& parentLogger,
                               Options options)
    : logger_(parentLogger, "CTimeScheduler"),
      options_(std::move(options)),
      clock_(CurrentClock()),
      lastObservedTime_(CurrentUtcSecond()),
      lastObservedSteady_(clock_->SteadyTime()),
      lastObservedOffset_(clock_->UtcOffset(lastObservedTime_)),
      ioContext_(std::make_shared<boost::asio::io_context>()),
      ioWork_(std::make_unique<
              boost::asio::executor_work_guard<boost::asio::io_context::executor_type>>(
          ioContext_->get_executor())),
      wakeTimer_(std::make_unique<DeadlineTimer>(*ioContext_)) {
    if (!options_.random) options_.random = SystemRandom();
    SetBaseline(lastObservedTime_, lastObservedSteady_);
    observerThread_ = boost::thread([this] { TimeObserverMain(); });
    try {
        timerServiceThread_ = boost::thread([this] { TimerServiceMain(); });
    } catch (...) {
        observerThread_.interrupt();
        observerThread_.join();
        throw;
    }
}

CTimeScheduler::~CTimeScheduler() {
    {
        Lock lock(eventMutex_);
        logger_.Detail() << "~CTimeScheduler: Clearing the event description map";
        eventsByUserData_.clear();
        eventsBySpecification_.clear();
        eventDescriptions_.clear();
    }
    observerThread_.interrupt();
    observerThread_.join();
    ioWork_.reset();
    ioContext_->stop();
    timerServiceThread_.interrupt();
    timerServiceThread_.join();
}

void CTimeScheduler::AddTickHandler(std::shared_ptr<ITickHandler> handler) {
    boost::lock_guard lock(tickHandlersMutex_);
    tickHandlers_.push_back(std::move(handler));
}

void CTimeScheduler::StopTicking() {
    boost::lock_guard lock(tickingMutex_);
    ticking_ = false;
}

bool CTimeScheduler::IsTicking() const {
    boost::lock_guard lock(tickingMutex_);
    return ticking_;
}

std::size_t CTimeScheduler::EventCount() const {
    Lock lock(eventMutex_);
    return eventDescriptions_.size();
}

void CTimeScheduler::TimerServiceMain() {
    for (;;) {
        try {
            ioContext_->run();
            return;
        } catch (const boost::thread_interrupted&) {
            return;
        } catch (const std::exception& e) {
            logger_.Error() << "Exception at CTimeScheduler::TimerServiceMain: " << e.what();
        } catch (...) {
            logger_.Error() << "Exception at CTimeScheduler::TimerServiceMain: unknown exception";
        }
    }
}

void CTimeScheduler::InvokeTickHandlers(std::uint64_t id, const MessagePtr& userData,
                                        const UserContextPtr& userContext) {
    if (!IsTicking()) return;
    // Even the line may fail when memory has run out; the tick goes on without it.
    const auto report = [this, id](const char* reason) noexcept {
        try {
            logger_.Error() << "InvokeTickHandlers: a tick handler failed for id: " << id << ": "
                            << reason;
        } catch (...) {
        }
    };
    boost::lock_guard lock(tickHandlersMutex_);
    for (const auto& handler : tickHandlers_) {
        try {
            handler->OnTick(userData, userContext);
        } catch (const boost::thread_interrupted&) {
            throw;
        } catch (const std::exception& e) {
            report(e.what());
        } catch (...) {
            report("unknown exception");
        }
    }
}

void CTimeScheduler::AddTab(std::shared_ptr<CCrontabScheduler> crontabScheduler,
                            const TimeEvent& timeEvent, MessagePtr userData,
                            UserContextPtr userContext) {
    // Every check that can fail runs before the registry changes.
    Validate(*crontabScheduler, timeEvent, ZoneSlack::None, StartRecord::Stored);
    if (!userData) throw CCrontabNoEventException(Texts::kUserDataIsNull);

    auto desc = std::make_shared<TimeEventDesc>(*ioContext_);
    desc->crontab = *crontabScheduler;
    desc->timeEvent = timeEvent;
    desc->userData = std::move(userData);
    desc->userContext = std::move(userContext);

    const Time plannedWall = clock_->UniversalTime();
    const std::chrono::nanoseconds plannedSteady = clock_->SteadyTime();
    Time next = GetNextOccurrence(*desc);
    if (next.is_not_a_date_time()) throw CCrontabNoEventException(Texts::kNoNextOccurrence);
    logger_.Detail() << "Starting the add of a new Tab at: "
                     << boost::posix_time::to_simple_string(next);
    if (timeEvent.has_delay()) {
        next = ApplyDelay(timeEvent.delay(), next, GetFollowingOccurrence(*desc, next));
    }
    {
        // Held through the arming, so that neither the observer nor a query sees the event
        // unarmed, and an occurrence already due is delivered under the lock.
        Lock lock(eventMutex_);
        NoteFirstPlanning(plannedWall, plannedSteady);
        const std::uint64_t id = Insert(desc);
        RegisterEventWithTimer(next, *desc, id, Arming::Fresh);
    }
    logger_.Detail() << "New tab was registered to occure at: "
                     << boost::posix_time::to_simple_string(next);
}

std::uint64_t CTimeScheduler::Insert(const DescPtr& desc) {
    if (!desc->userData) throw CCrontabNoEventException(Texts::kUserDataIsNull);
    desc->userDataHash = desc->userData->GetHash();
    // The same hash of the same bytes as GetRemainingTimeBySpec looks up. Partial: an
    // incomplete record is never asked for, so its hash does not matter.
    if (!desc->IsSleepEvent()) {
        desc->specificationHash =
            std::hash<std::string>{}(desc->timeEvent.SerializePartialAsString());
    }
    const auto replaced = FindOldest(desc->userData, desc->userDataHash);
    if (replaced == eventDescriptions_.end()) {
        if (eventDescriptions_.size() >= options_.maxEvents) {
            throw CCrontabEventLimitException(options_.maxEvents);
        }
    } else {
        Remove(replaced, "FinadAndDeleteUserData: Timer: Canceling id: ",
               "FinadAndDeleteUserData: Event description map: Erasing id: ");
    }
    const std::uint64_t id = ++lastEventId_;
    desc->id = id;
    eventDescriptions_.emplace(id, desc);
    eventsByUserData_.insert(*desc);
    if (!desc->IsSleepEvent()) eventsBySpecification_.insert(*desc);
    eventAdded_.notify_one();
    return id;
}

void CTimeScheduler::DeleteTab(const MessagePtr& userData) {
    if (!userData) return;
    const std::size_t hash = userData->GetHash();
    Lock lock(eventMutex_);
    const auto found = FindOldest(userData, hash);
    if (found == eventDescriptions_.end()) return;
    Remove(found,
           "DeleteTab: Timer: Canceling id: ", "DeleteTab: Event Description Map: Erasing id: ");
}

void CTimeScheduler::Remove(EventMap::const_iterator it, const char* cancelLine,
                            const char* eraseLine) {
    logger_.Detail() << cancelLine << it->first;
    if (it->second) it->second->timer.cancel();
    logger_.Detail() << eraseLine << it->first;
    Erase(it);
}

void CTimeScheduler::Erase(EventMap::const_iterator it) {
    if (const DescPtr& desc = it->second) {
        eventsByUserData_.erase(eventsByUserData_.iterator_to(*desc));
        if (!desc->IsSleepEvent()) {
            eventsBySpecification_.erase(eventsBySpecification_.iterator_to(*desc));
        }
    }
    if (!plansFromWalk_.empty()) plansFromWalk_.erase(it->first);
    eventDescriptions_.erase(it);
}

CTimeScheduler::EventMap::const_iterator CTimeScheduler::FindOldest(const MessagePtr& userData,
                                                                    std::size_t hash) const {
    if (!userData) return eventDescriptions_.end();
    for (auto event = eventsByUserData_.lower_bound({hash, 0});
         event != eventsByUserData_.end() && event->userDataHash == hash; ++event) {
        if (event->userData->IsEqual(userData)) return eventDescriptions_.find(event->id);
    }
    return eventDescriptions_.end();
}

namespace {

// A sleep event has no crontab.
std::string Describe(std::uint32_t sleepSeconds, const CCronTab* crontab) {
    if (!crontab) return "Sleep event: " + std::to_string(sleepSeconds);
    return "CRON: " + crontab->GetText();
}

// How many events the dump copies per hold of the lock.
constexpr std::size_t kDumpChunk = 1024;

// What the dump prints of one event, copied under the lock.
struct DumpedEvent {
    std::uint64_t id;
    std::shared_ptr<const CCronTab> crontab;
    std::shared_ptr<Common::Kernel::IMessage> userData;
    std::int32_t delay;
    std::uint32_t sleepSeconds;
    bool utcLocal;
};

}  // namespace

void CTimeScheduler::FlushScheduledEvents(Lock& lock) const {
    lock.unlock();
    // Relocked however the logging ends, as the caller expects.
    struct Relock {
        Lock& lock;
        ~Relock() { lock.lock(); }
    } relock{lock};

    const Common::Library::Logging::CLoggerBridge dump(logger_, "ScheduledTicks");
    dump.Detail() << "Flushing all scheduled events";
    // A chunk at a time, in ascending id order: the lock is held only to copy a chunk, and
    // neither that hold nor the copy grows with the registry.
    std::vector<DumpedEvent> chunk;
    chunk.reserve(kDumpChunk);
    for (std::uint64_t nextId = 0;; nextId = chunk.back().id + 1) {
        chunk.clear();
        {
            const Lock chunkLock(eventMutex_);
            for (auto it = eventDescriptions_.lower_bound(nextId);
                 it != eventDescriptions_.end() && chunk.size() < kDumpChunk; ++it) {
                if (const DescPtr& desc = it->second) {
                    chunk.push_back({it->first, desc->crontab.GetCronTab(), desc->userData,
                                     desc->timeEvent.delay(), desc->sleepSeconds,
                                     desc->timeEvent.utclocal()});
                }
            }
        }
        if (chunk.empty()) break;
        for (const DumpedEvent& event : chunk) {
            dump.Detail() << "Event " << event.id << " is scheduled to tick every "
                          << Describe(event.sleepSeconds, event.crontab.get())
                          << ". The user data is " << event.userData->GetTypeName()
                          << " with delay " << event.delay
                          << " and UTCLocal = " << (event.utcLocal ? 1 : 0);
        }
    }
    dump.Detail() << "Flushing all scheduled events done";
}

// The text of boost::posix_time::to_simple_string ("2031-Jan-01 12:01:00", with
// ".ffffff" when there is a fraction) built without the two string streams and locale
// look-ups that one costs: a re-plan writes one such time per re-armed event.
std::ostream& operator<<(std::ostream& out, const CTimeScheduler::LogTime& time) {
    const CTimeScheduler::Time& t = time.time;
    if (t.is_special()) return out << boost::posix_time::to_simple_string(t);
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto ymd = t.date().year_month_day();
    const boost::posix_time::time_duration day = t.time_of_day();
    char text[40];
    int length = std::snprintf(text, sizeof text, "%04d-%s-%02d %02d:%02d:%02d",
                               static_cast<int>(ymd.year), kMonths[ymd.month - 1],
                               static_cast<int>(ymd.day), static_cast<int>(day.hours()),
                               static_cast<int>(day.minutes()), static_cast<int>(day.seconds()));
    if (day.fractional_seconds() != 0) {
        length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length),
                                ".%06lld", static_cast<long long>(day.fractional_seconds()));
    }
    return out.write(text, length);
}

std::ostream& operator<<(std::ostream& out, const CTimeScheduler::LogDescription& description) {
    return out << CTimeScheduler::DescribeEvent(description.desc);
}

std::string CTimeScheduler::DescribeEvent(const TimeEventDesc& desc) {
    return Describe(desc.sleepSeconds, desc.crontab.GetCronTab().get());
}

}  // namespace Zent::Scheduler
