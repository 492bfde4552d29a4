#pragma once

// A one-way read-only switch for messages that are handed on after they were filled.
//
//     response->SetDetails(details);
//     response->SetReadOnly();
//     response->SetDetails(other);   // throws "Message is read only"

#include <atomic>
#include <stdexcept>

namespace Zent::Common::Message {

class CWriteControl {
public:
    virtual ~CWriteControl() = default;

    bool IsReadOnly() const { return readOnly_.load(std::memory_order_acquire); }
    // There is no way back.
    void SetReadOnly() { readOnly_.store(true, std::memory_order_release); }
    // Throws std::runtime_error "Message is read only" once SetReadOnly was called.
    void CheckWritable() const {
        // Fixed text: other programs match it; keep it exactly as it is.
        if (IsReadOnly()) throw std::runtime_error("Message is read only");
    }

private:
    std::atomic<bool> readOnly_{false};
};

}  // namespace Zent::Common::Message
