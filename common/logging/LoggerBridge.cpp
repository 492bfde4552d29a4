#include "common/logging/LoggerBridge.h"

namespace Zent::Common::Library::Logging {

CLoggerBridge::CLoggerBridge(StreamFactory info, StreamFactory detail, StreamFactory error)
    : info_(std::move(info)), detail_(std::move(detail)), error_(std::move(error)) {}

CLoggerBridge::CLoggerBridge(const CLoggerBridge& parent, const std::string& component)
    : info_(parent.info_),
      detail_(parent.detail_),
      error_(parent.error_),
      prefix_(parent.prefix_.empty() ? component : parent.prefix_ + ":" + component) {}

CLoggerBridge::LogStream CLoggerBridge::Make(const StreamFactory& factory) const {
    LogStream stream = factory();
    if (!prefix_.empty()) stream << prefix_ << " : ";
    return stream;
}

}  // namespace Zent::Common::Library::Logging
