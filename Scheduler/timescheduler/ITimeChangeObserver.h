#pragma once

// Told when the wall clock jumped against the steady clock.
//
//     observer->NotifyTimeChanged(7200);   // the clock was set two hours forward

#include <cstdint>

namespace Zent::Scheduler {

class ITimeChangeObserver {
public:
    virtual ~ITimeChangeObserver() = default;
    // `delta` seconds, positive when the clock moved forward.
    virtual void NotifyTimeChanged(std::int64_t delta) = 0;
};

}  // namespace Zent::Scheduler
