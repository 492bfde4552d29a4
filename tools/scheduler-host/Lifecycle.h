#pragma once

// Steps of the module's lifecycle that the demo and serve share.
//
//     CSchedulerHost host(HostOptions(settings, sink));
//     host.Load(settings.library);
//     host.Initialize();
//     host.Start();
//     ...
//     host.PrepareShutdown();
//     StopModule(host);   // graceful, retried; forced when the module stays busy
//     host.Unload();

#include "host/SchedulerHost.h"
#include "tools/scheduler-host/Settings.h"

namespace Zent::Tools::SchedulerHost {

// The host's options for `settings`; `sink` receives the log records (empty: stderr).
Host::CSchedulerHost::Options HostOptions(const HostSettings& settings, Host::CLogger::Sink sink);

// Asks the module to stop gracefully until it agrees (it refuses while it is busy), for
// about two seconds. True when it stopped.
bool StopGracefully(Host::CSchedulerHost& host);

// StopGracefully, then a forced stop when the module stayed busy. True when the graceful
// stop succeeded.
bool StopModule(Host::CSchedulerHost& host);

}  // namespace Zent::Tools::SchedulerHost
