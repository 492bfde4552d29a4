#pragma once

// The records a crontab parser produces for one field item and hands to a field class
// (CrontabFields.h). Values are unsigned 16-bit, as written in the text. Plain values, so
// that handing them over never touches the heap.

#include <cstdint>

namespace Zent::Scheduler {

// The suffix written directly after an item: `L` (last), `W` (nearest weekday) or `#n`.
struct SuffixFlags {
    bool last = false;
    bool nearestWeekday = false;
    bool nth = false;
    std::uint16_t nthValue = 0;  // the number written after `#`
};

// `a-b/n` and `a-b` items, and the form every other item is turned into.
struct RangeSpec {
    std::uint16_t start = 0;
    std::uint16_t end = 0;
    std::uint16_t step = 1;
    bool hasSuffix = false;
    SuffixFlags suffix;
};

// `a/n`, `a` (step 0), `R/n` and `R` (isRandom) items.
struct StartStepSpec {
    std::uint16_t start = 0;
    std::uint16_t step = 0;  // 0: a single value
    std::uint32_t randomValue = 0;
    bool hasSuffix = false;
    bool isRandom = false;
    SuffixFlags suffix;
};

// `*` (step 1) and `*/n` items.
struct EverySpec {
    std::uint16_t step = 1;
    bool hasSuffix = false;
    SuffixFlags suffix;
};

}  // namespace Zent::Scheduler
