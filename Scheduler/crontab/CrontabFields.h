#pragma once

// The compiled value sets of the seven crontab fields.
//
// A field is filled by the parser with item records (CrontabFieldSpecs.h) and then
// compiled once. Each record sets its values as it arrives; a bad record (out of bounds,
// or a step of 0) is remembered instead, and `Compile` raises CCrontabValidationException
// with the field's fixed text for the first bad record in the order every `AddEvery`,
// every `AddRange`, every `AddStartStep`, whatever order the records came in. A field
// that failed is unusable. Afterwards the field is only read. Fields are small values
// without heap memory, copied into the crontab that holds them.
//
//     CCrontabFieldHour hour;
//     hour.AddRange({1, 10, 3});       // 1-10/3
//     hour.Compile();                  // allows 1, 4, 7 and 10
//     bool at7 = hour.Contains(7);     // true
//
// Second, minute, hour, month and year live here; the two day fields, which carry the
// last-day, nearest-weekday and n-th-weekday rules, have headers of their own.

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>

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

    CCrontabFieldBase() = default;
    CCrontabFieldBase(const CCrontabFieldBase&) = default;
    CCrontabFieldBase& operator=(const CCrontabFieldBase&) = default;
    virtual ~CCrontabFieldBase() = default;

    // `*` or `*/n`: the whole range of the field by the item's step.
    void AddEvery(const EverySpec& spec) {
        Take(kEvery, {static_cast<std::uint16_t>(First), static_cast<std::uint16_t>(Last),
                      spec.step, spec.hasSuffix, spec.suffix});
    }

    // `a-b` or `a-b/n`, as written.
    void AddRange(const RangeSpec& spec) { Take(kRange, spec); }

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
        Take(kStartStep, {static_cast<std::uint16_t>(start), static_cast<std::uint16_t>(end),
                          static_cast<std::uint16_t>(step), spec.hasSuffix, spec.suffix});
    }

    // True when v is one of the field's values and its bit is set.
    bool Contains(unsigned v) const { return v >= First && v <= Last && values_.test(v - First); }
    const Bits& Values() const { return values_; }

protected:
    // Sets the values of a checked record; the day fields route suffixed records to their
    // own rules.
    virtual void Apply(const RangeSpec& r) {
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

    // Raises the field's text for the first bad record (see the header comment).
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    void CheckRecords(std::string_view boundsPrefix, std::string_view stepMessage) const {
        for (const BadRecord& bad : bad_) {
            if (!bad.present) continue;
            if (bad.badStep) throw CCrontabValidationException(std::string(stepMessage));
            throw CCrontabValidationException(std::string(boundsPrefix) +
                                              std::to_string(bad.start) +
                                              " end=" + std::to_string(bad.end));
        }
    }

    // Forgets the bad records: a `?` day field drops its records unchecked.
    void DropRecords() { bad_ = {}; }

    Bits values_;

private:
    // The kinds of record, in the order Compile checks them.
    enum Order { kEvery, kRange, kStartStep };

    struct BadRecord {
        bool present = false;
        bool badStep = false;  // else out of bounds
        std::uint16_t start = 0;
        std::uint16_t end = 0;
    };

    void Take(Order order, const RangeSpec& r) {
        const bool outOfBounds =
            r.start < First || r.start > Last || r.end < First || r.end > Last || r.start > r.end;
        if (outOfBounds || r.step == 0) {
            if (!bad_[order].present) bad_[order] = {true, !outOfBounds, r.start, r.end};
            return;
        }
        Apply(r);
    }

    std::array<BadRecord, 3> bad_{};
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
