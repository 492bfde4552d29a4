#include "Scheduler/SchedulerModule.h"

#include <charconv>
#include <optional>
#include <string>

#include "Scheduler/ControlMessageProcessor.h"
#include "Scheduler/ModuleSeams.h"
#include "Scheduler/SchedulerNotTicking.h"
#include "Scheduler/SchedulerTexts.h"
#include "Scheduler/TickHandler.h"

// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

namespace Zent::Scheduler {

using Common::Library::Logging::CLoggerBridge;

CSchedulerModule::CSchedulerModule()
    : loggerBridge_(std::make_shared<CLoggerBridge>(
          [this] { return Log(2); }, [this] { return Log(1); }, [this] { return Log(4); })),
      controlMessageProcessor_(std::make_shared<CControlMessageProcessor>(*this)),
      tickHandler_(std::make_shared<CTickHandler>(*this)),
      crontabs_(std::make_shared<CCronTabCache>()) {}

CSchedulerModule::~CSchedulerModule() {
    StopProcessingThreads();
    if (timeScheduler_) timeScheduler_->StopTicking();
    timeScheduler_.reset();
    crontabs_.reset();
    translator_.reset();
}

void CSchedulerModule::OnInitialize(std::shared_ptr<Common::Kernel::IResourceProvider> provider) {
    // A repeated Initialize keeps the one subscription of each control type.
    if (!HasProcessors()) {
        RegisterMessageProcessor(CControlMessageProcessor::Types(), controlMessageProcessor_);
    }
    if (provider->HasResource(Common::Kernel::ResourceNumber::Translator)) {
        translator_ = std::dynamic_pointer_cast<Common::Kernel::ITranslatorResource>(
            provider->GetResource(Common::Kernel::ResourceNumber::Translator));
    }
    if (!timeScheduler_) {
        CTimeScheduler::Options options = ModuleTimeSchedulerOptions();
        options.maxEvents = ConfiguredMaxEvents(*provider);
        timeScheduler_ = std::make_shared<CTimeScheduler>(*loggerBridge_, std::move(options));
        timeScheduler_->AddTickHandler(tickHandler_);
    }
}

std::size_t CSchedulerModule::ConfiguredMaxEvents(
    Common::Kernel::IResourceProvider& provider) const {
    // Initialize has already checked that resource 11 is a configuration resource.
    const auto configuration = std::dynamic_pointer_cast<Common::Kernel::IConfigurationResource>(
        provider.GetResource(Common::Kernel::ResourceNumber::Configuration));
    const std::optional<std::string> value =
        configuration ? configuration->GetValue(kMaxEventsKey) : std::nullopt;
    if (!value) return CTimeScheduler::kDefaultMaxEvents;
    std::size_t limit = 0;
    const char* const end = value->data() + value->size();
    const auto [parsed, error] = std::from_chars(value->data(), end, limit);
    if (error == std::errc() && parsed == end && limit > 0) return limit;
    Log(4) << "Ignoring the invalid configuration value " << kMaxEventsKey << "=" << *value
           << "; the limit stays " << CTimeScheduler::kDefaultMaxEvents;
    return CTimeScheduler::kDefaultMaxEvents;
}

void CSchedulerModule::PrepareShutdown() {
    if (timeScheduler_) timeScheduler_->StopTicking();
}

void CSchedulerModule::CheckTicking(const std::string& method, const std::string& message) const {
    if (timeScheduler_ && timeScheduler_->IsTicking()) return;
    throw SchedulerNotTicking(SchedulerTexts::kNotTickingPrefix + method +
                              SchedulerTexts::kNotTickingMessage + message +
                              SchedulerTexts::kNotTickingEnd);
}

}  // namespace Zent::Scheduler
