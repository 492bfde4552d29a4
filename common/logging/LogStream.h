#pragma once

// One log line under construction: text is collected with << and written as one line,
// with its level and module name, when the stream is flushed or destroyed.
//
//     {
//         CLogStream line(logger, 2, "SchedulerModule");
//         line << "Received message: " << request->GetTypeName();
//     }   // one line written here
//
// An empty stream writes nothing. A stream without a logger, or whose logger drops its
// level, builds no text at all.

#include <cstdint>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "common/kernel/ILoggerResource.h"

namespace Products::Common::Zent::TraceLog {

class CLogStream {
public:
    CLogStream(std::shared_ptr<::Zent::Common::Kernel::ILoggerResource> logger, std::int32_t level,
               std::string moduleName);
    CLogStream(CLogStream&&) = default;
    CLogStream& operator=(CLogStream&&) = delete;
    CLogStream(const CLogStream&) = delete;
    CLogStream& operator=(const CLogStream&) = delete;
    // Flushes what is left (text written after the last Flush too); a failing logger is
    // ignored here.
    ~CLogStream();

    template <typename T>
    CLogStream& operator<<(const T& value) {
        if (!logger_) return *this;
        if (!buffer_) buffer_.emplace();
        *buffer_ << value;
        return *this;
    }

    // Writes the collected text, if any, as one line and empties the buffer.
    void Flush();

private:
    std::shared_ptr<::Zent::Common::Kernel::ILoggerResource> logger_;
    std::int32_t level_;
    std::string moduleName_;
    std::optional<std::ostringstream> buffer_;  // made on the first write
};

}  // namespace Products::Common::Zent::TraceLog
