#pragma once

// Hands out log streams of a module, each line prefixed with the component that writes it.
//
//     CLoggerBridge module(info, detail, error);          // prefix ""
//     CLoggerBridge scheduler(module, "CTimeScheduler");  // prefix "CTimeScheduler"
//     scheduler.Detail() << "Adding event";               // "CTimeScheduler : Adding event"
//     CLoggerBridge dump(scheduler, "ScheduledTicks");    // "CTimeScheduler:ScheduledTicks : ..."
//
// A bridge is copied freely and used from any thread; each stream belongs to one thread.

#include <functional>
#include <string>

#include "common/logging/LogStream.h"

namespace Zent::Common::Library::Logging {

class CLoggerBridge {
public:
    using LogStream = Products::Common::Zent::TraceLog::CLogStream;
    using StreamFactory = std::function<LogStream()>;

    // The module's own bridge: streams of level 2 (info), 1 (detail) and 4 (error).
    CLoggerBridge(StreamFactory info, StreamFactory detail, StreamFactory error);
    // A component's bridge: the parent's factories, the prefix extended by `component`.
    CLoggerBridge(const CLoggerBridge& parent, const std::string& component);
    CLoggerBridge(const CLoggerBridge&) = default;
    virtual ~CLoggerBridge() = default;

    LogStream Info() const { return Make(info_); }
    LogStream Detail() const { return Make(detail_); }
    LogStream Error() const { return Make(error_); }

private:
    LogStream Make(const StreamFactory& factory) const;

    StreamFactory info_;
    StreamFactory detail_;
    StreamFactory error_;
    std::string prefix_;
};

}  // namespace Zent::Common::Library::Logging
