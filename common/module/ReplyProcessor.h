#pragma once

// Hands responses to the requests that wait for them.
//
//     replies->Expect(requestId);                  // before the request is sent
//     bus->Send(request, context);
//     auto response = replies->Await(requestId, std::chrono::seconds(5));   // null on timeout
//
// A response that nobody expects is dropped. Thread-safe.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "common/kernel/IBusResource.h"
#include "common/kernel/IIdGeneratorResource.h"
#include "common/module/MessageProcessor.h"
#include "common/module/Response.h"

namespace Zent::Common::Module {

class CReplyProcessor : public IMessageProcessor {
public:
    CReplyProcessor(std::shared_ptr<Kernel::IBusResource> bus,
                    std::shared_ptr<Kernel::IIdGeneratorResource> idGenerator);

    // Throws std::runtime_error "Bad cast to Zent::Common::Module::CResponse" for a
    // message that is no response.
    void Process(std::shared_ptr<Kernel::IMessage> message) override;

    // Registers interest in the response to `requestId`.
    void Expect(std::uint32_t requestId);
    // Waits for the response to an expected request; null when none came in time.
    std::shared_ptr<CResponse> Await(std::uint32_t requestId, std::chrono::milliseconds timeout);

private:
    struct Waiter {
        boost::condition_variable ready;
        std::shared_ptr<CResponse> response;
    };

    boost::mutex lock_;
    std::map<std::uint32_t, std::shared_ptr<Waiter>> waiting_;
    std::shared_ptr<Kernel::IBusResource> bus_;
    std::shared_ptr<Kernel::IIdGeneratorResource> idGenerator_;
};

}  // namespace Zent::Common::Module
