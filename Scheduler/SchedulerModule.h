#pragma once

// The scheduler module: the plug-in that the kernel loads as
// "Zent::Scheduler::CSchedulerModule" and drives through IModule.
//
//     Poco::ClassLoader<IModule> loader;
//     loader.loadLibrary("libScheduler.so");
//     std::shared_ptr<IModule> module(loader.create("Zent::Scheduler::CSchedulerModule"));
//     module->Initialize(resources);   // subscribes to the eleven control messages
//     module->Start();
//
// Construction touches no resource, starts no thread and writes no log line.
//
// Run-time configuration (resource 11), read once by the first Initialize:
// - "Scheduler.MaxRegisteredEvents": how many events (cron and sleep together) may be
//   registered at once, a whole number from 1; default 1000000. A registration beyond it
//   is refused with CEventLimitException (a sleep registration only logs the refusal). An
//   invalid value is logged (level 4) and the default applies.

#include <cstddef>
#include <memory>
#include <string>

#include "Scheduler/crontab/CronTabCache.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "common/kernel/ITranslatorResource.h"
#include "common/logging/LoggerBridge.h"
#include "common/module/CommonModule.h"

namespace Zent::Scheduler {

class CSchedulerModule : public Common::Module::CCommonModule {
public:
    class CControlMessageProcessor;
    class CTickHandler;

    // The configuration key of the registered-event limit.
    static constexpr const char* kMaxEventsKey = "Scheduler.MaxRegisteredEvents";

    CSchedulerModule();
    // Ends message processing first, then stops ticking and releases the time scheduler,
    // the crontab cache and the translator.
    ~CSchedulerModule() override;

    // Stops the ticks for good; requests that need ticking are refused from now on.
    void PrepareShutdown() override;
    std::string GetName() const override { return "SchedulerModule"; }

protected:
    void OnInitialize(std::shared_ptr<Common::Kernel::IResourceProvider> provider) override;

private:
    // For the nested handlers, which reach the module's parts through these (a nested class
    // has the access of a member).

    // The module's compiled crontabs by text: events registered with one text share one
    // compiled crontab, and a text is parsed once while it stays in use.
    CCronTabCache& GetCrontabs() const { return *crontabs_; }
    // Null before Initialize.
    const std::shared_ptr<CTimeScheduler>& GetTimeScheduler() const { return timeScheduler_; }
    // Returns while the time scheduler ticks; throws SchedulerNotTicking "Scheduler is not
    // ticking. Shutdown in progress. [Method=<method>;Message=<message>]" otherwise.
    void CheckTicking(const std::string& method, const std::string& message) const;
    // Empty when the kernel offers no translator.
    const std::shared_ptr<Common::Kernel::ITranslatorResource>& GetTranslator() const {
        return translator_;
    }

    // The registered-event limit that the configuration sets, or the default.
    std::size_t ConfiguredMaxEvents(Common::Kernel::IResourceProvider& provider) const;

    std::shared_ptr<Common::Library::Logging::CLoggerBridge> loggerBridge_;
    std::shared_ptr<CControlMessageProcessor> controlMessageProcessor_;
    std::shared_ptr<CTimeScheduler> timeScheduler_;
    std::shared_ptr<CTickHandler> tickHandler_;
    std::shared_ptr<CCronTabCache> crontabs_;
    std::shared_ptr<Common::Kernel::ITranslatorResource> translator_;
};

}  // namespace Zent::Scheduler
