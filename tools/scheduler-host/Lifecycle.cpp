#include "tools/scheduler-host/Lifecycle.h"

#include <chrono>
#include <thread>

namespace Zent::Tools::SchedulerHost {

namespace {

constexpr int kGracefulStopAttempts = 20;
constexpr std::chrono::milliseconds kStopRetryPause{100};

}  // namespace

Host::CSchedulerHost::Options HostOptions(const HostSettings& settings, Host::CLogger::Sink sink) {
    Host::CSchedulerHost::Options options;
    options.withTranslator = settings.withTranslator;
    options.minimumLogLevel = settings.logLevel;
    options.logSink = std::move(sink);
    return options;
}

bool StopGracefully(Host::CSchedulerHost& host) {
    for (int attempt = 0; attempt < kGracefulStopAttempts; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(kStopRetryPause);
        if (host.Stop(false)) return true;
    }
    return false;
}

bool StopModule(Host::CSchedulerHost& host) {
    if (StopGracefully(host)) return true;
    host.GetLogger().Log("The module stayed busy; stopping it by force", 3, "SchedulerHost");
    host.Stop(true);
    return false;
}

}  // namespace Zent::Tools::SchedulerHost
