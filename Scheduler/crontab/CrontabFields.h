#pragma once

// The compiled value sets of the seven crontab fields.
//
// A field is filled by the parser with item records (CrontabFieldSpecs.h), always in the
// order: every `AddEvery`, every `AddRange`, every `AddStartStep`, then `Compile` once.
// Compiling validates each record in that order and sets one bit per allowed value; the
// first bad record raises CCrontabValidationException with the field's fixed text and
// leaves the field unusable. Afterwards the field is only read.
//
//     CCrontabFieldHour hour;
//     hour.AddRange({1, 10, 3});       // 1-10/3
//     hour.Compile();                  // allows 1, 4, 7 and 10
//     bool at7 = hour.Contains(7);     // true
//
// Second, minute, hour, month and year live here; the two day fields, which carry the
// last-day, nearest-weekday and n-th-weekday rules, have headers of their own.

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "CrontabFieldSpecs.h"
#include "CrontabValidationException.h"

namespace Zent::Scheduler {
namespace detail {

// Shared mechanics of a field whose values are First..Last, bit (v - First) standing for v.
template <unsigned First, unsigned Last>
class CCrontabFieldBase {
public:
    static constexpr unsigned kFirst = First;
    static constexpr unsigned kLast = Last;
    static constexpr unsigned kCount = Last - First + 1;
    using Bits = std::bitset<kCount>;

    virtual ~CCrontabFieldBase() = default;

    // `*` or `*/n`: the whole range of the field by the item's step.
    void AddEvery(const EverySpec& spec) {
        ranges_.push_back({static_cast<std::uint16_t>(First), static_cast<std::uint16_t>(Last),
                           spec.step, spec.hasSuffix, spec.suffix});
    }

    // `a-b` or `a-b/n`, kept as written.
    void AddRange(const RangeSpec& spec) { ranges_.push_back(spec); }

    // `a`, `a/n`, `R`, `R/n`: a single value becomes a→a by 1, a stepped one a→Last by n.
    // A random start is drawn from the field's values; with a step it is brought into the
    // first step. Arithmetic is wide so that huge steps cannot wrap.
    void AddStartStep(const StartStepSpec& spec) {
        std::uint64_t start = spec.start;
        if (spec.isRandom) start = First + spec.randomValue % kCount;
        std::uint64_t end = start;
        std::uint64_t step = 1;
        if (spec.step != 0) {
            end = Last;
            step = spec.step;
            if (spec.isRandom) {
                start = First + start % spec.step;
                if (start > Last) start = Last;
            }
        }
        ranges_.push_back({static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(end),
                           static_cast<std::uint16_t>(step), spec.hasSuffix, spec.suffix});
    }

    // True when v is one of the field's values and its bit is set.
    bool Contains(unsigned v) const { return v >= First && v <= Last && values_.test(v - First); }
    const Bits& Values() const { return values_; }

protected:
    // Validates every collected record in order (bounds before step) and calls
    // apply(value, record) for each value start, start + step, ... <= end; then forgets
    // the records. Raises the field's texts on the first bad record.
    template <typename Apply>
    void CompileRanges(std::string_view boundsPrefix, std::string_view stepMessage, Apply apply) {
        for (const RangeSpec& r : ranges_) {
            Validate(r, boundsPrefix, stepMessage);
            for (std::uint32_t v = r.start; v <= r.end; v += r.step)
                apply(v, r);
        }
        DiscardRanges();
    }

    // Compiling for a field whose records only set the bits of their values.
    void CompilePlain(std::string_view boundsPrefix, std::string_view stepMessage) {
        for (const RangeSpec& r : ranges_) {
            Validate(r, boundsPrefix, stepMessage);
            if (r.step == 1) {
                Bits span;
                span.set();
                span >>= kCount - (r.end - r.start + 1u);
                values_ |= span << (r.start - First);
            } else {
                for (std::uint32_t v = r.start; v <= r.end; v += r.step)
                    values_[v - First] = true;
            }
        }
        DiscardRanges();
    }

    static void Validate(const RangeSpec& r, std::string_view boundsPrefix,
                         std::string_view stepMessage) {
        if (r.start < First || r.start > Last || r.end < First || r.end > Last || r.start > r.end) {
            throw CCrontabValidationException(std::string(boundsPrefix) + std::to_string(r.start) +
                                              " end=" + std::to_string(r.end));
        }
        if (r.step == 0) throw CCrontabValidationException(std::string(stepMessage));
    }

    void DiscardRanges() { RangeList().swap(ranges_); }

    // Only needed until Compile, which gives the memory back: a compiled field lives as
    // long as the crontab that holds it.
    using RangeList = std::vector<RangeSpec>;

    Bits values_;
    RangeList ranges_;
};

}  // namespace detail

// Seconds 0..59.
class CCrontabFieldSecond : public detail::CCrontabFieldBase<0, 59> {
public:
    void Compile();
};

// Minutes 0..59. Its failure texts name the hour field, as they always have.
class CCrontabFieldMinute : public detail::CCrontabFieldBase<0, 59> {
public:
    void Compile();
};

// Hours 0..23.
class CCrontabFieldHour : public detail::CCrontabFieldBase<0, 23> {
public:
    void Compile();
};

// Months 1..12.
class CCrontabFieldMonth : public detail::CCrontabFieldBase<1, 12> {
public:
    void Compile();
};

// Years 1970..2099. `*` and `*/n` mark the field open-ended: such a crontab has no last
// occurrence, whatever else the field holds.
class CCrontabFieldYear : public detail::CCrontabFieldBase<1970, 2099> {
public:
    void AddEvery(const EverySpec& spec);
    void Compile();
    bool IsOpenEnded() const { return openEnded_; }

private:
    bool openEnded_ = false;
};

}  // namespace Zent::Scheduler
