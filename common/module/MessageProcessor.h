#pragma once

// Something that handles the messages a module subscribed to, one at a time.
//
//     class CPingProcessor : public IMessageProcessor {
//         void Process(std::shared_ptr<IMessage> message) override { ... }
//     };
//     module.RegisterMessageProcessor({CPing::kType, CPingAll::kType},
//                                    std::make_shared<CPingProcessor>());

#include <memory>

#include "common/kernel/IMessage.h"

namespace Zent::Common::Module {

class IMessageProcessor {
public:
    virtual ~IMessageProcessor() = default;
    // Called on the processor's own processing thread, never twice at once.
    virtual void Process(std::shared_ptr<Kernel::IMessage> message) = 0;
};

}  // namespace Zent::Common::Module
