#include "common/module/ReplyProcessor.h"

#include <stdexcept>

#include <boost/chrono/duration.hpp>

namespace Zent::Common::Module {

CReplyProcessor::CReplyProcessor(std::shared_ptr<Kernel::IBusResource> bus,
                                 std::shared_ptr<Kernel::IIdGeneratorResource> idGenerator)
    : bus_(std::move(bus)), idGenerator_(std::move(idGenerator)) {}

void CReplyProcessor::Process(std::shared_ptr<Kernel::IMessage> message) {
    auto response = std::dynamic_pointer_cast<CResponse>(message);
    // Fixed text: other programs match it; keep it exactly as it is.
    if (!response) throw std::runtime_error("Bad cast to Zent::Common::Module::CResponse");
    boost::lock_guard lock(lock_);
    const auto found = waiting_.find(response->GetRequestId());
    if (found == waiting_.end()) return;
    found->second->response = std::move(response);
    found->second->ready.notify_all();
}

void CReplyProcessor::Expect(std::uint32_t requestId) {
    boost::lock_guard lock(lock_);
    waiting_.try_emplace(requestId, std::make_shared<Waiter>());
}

std::shared_ptr<CResponse> CReplyProcessor::Await(std::uint32_t requestId,
                                                  std::chrono::milliseconds timeout) {
    boost::unique_lock lock(lock_);
    const auto found = waiting_.find(requestId);
    if (found == waiting_.end()) return nullptr;
    const std::shared_ptr<Waiter> waiter = found->second;
    waiter->ready.wait_for(lock, boost::chrono::milliseconds(timeout.count()),
                           [&] { return waiter->response != nullptr; });
    waiting_.erase(requestId);
    return waiter->response;
}

}  // namespace Zent::Common::Module
