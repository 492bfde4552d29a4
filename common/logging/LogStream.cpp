#include "common/logging/LogStream.h"

namespace Products::Common::Zent::TraceLog {

CLogStream::CLogStream(std::shared_ptr<::Zent::Common::Kernel::ILoggerResource> logger,
                       std::int32_t level, std::string moduleName)
    : logger_(logger && logger->IsEnabled(level) ? std::move(logger) : nullptr),
      level_(level),
      moduleName_(std::move(moduleName)) {}

CLogStream::~CLogStream() {
    try {
        Flush();
    } catch (...) {
        // A destructor must not throw; the line is lost with the logger that failed.
    }
}

void CLogStream::Flush() {
    if (!buffer_ || !logger_) return;
    std::string text = std::move(*buffer_).str();
    buffer_->str({});
    buffer_->clear();
    if (text.empty()) return;
    logger_->Log(text, level_, moduleName_);
}

}  // namespace Products::Common::Zent::TraceLog
