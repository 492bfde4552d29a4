#pragma once

// The base of every typed response: a reply (request id) that can be made read-only.
// Setters of derived classes call CheckWritable() first and change nothing when it throws.
//
//     auto response = std::make_shared<CGetLastTickResponse>(request->GetRequestId());
//     response->SetNoLastTick(true);

#include "common/message/WriteControl.h"
#include "common/module/Response.h"

namespace Zent::Common::Message {

class CResponse : public Module::CResponse, public CWriteControl {
public:
    using Module::CResponse::CResponse;
};

}  // namespace Zent::Common::Message
