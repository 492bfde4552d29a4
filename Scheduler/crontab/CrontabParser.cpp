#include "CrontabParser.h"

#include <algorithm>
#include <array>
#include <bit>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/fusion/include/at_c.hpp>
#include <boost/random/random_device.hpp>
#include <boost/spirit/include/qi.hpp>

namespace Zent::Scheduler {

namespace qi = boost::spirit::qi;
using boost::fusion::at_c;

namespace {

// A word table of a field: ASCII case-insensitive, longest entry wins.
struct NameEntry {
    std::string_view name;
    std::uint16_t value;
};

constexpr NameEntry kMonthNames[] = {
    {"jan", 1},      {"feb", 2},       {"mar", 3},       {"apr", 4},      {"may", 5},
    {"jun", 6},      {"jul", 7},       {"aug", 8},       {"sep", 9},      {"oct", 10},
    {"nov", 11},     {"dec", 12},      {"january", 1},   {"february", 2}, {"march", 3},
    {"april", 4},    {"june", 6},      {"july", 7},      {"august", 8},   {"september", 9},
    {"october", 10}, {"november", 11}, {"december", 12}, {"1", 1},        {"2", 2},
    {"3", 3},        {"4", 4},         {"5", 5},         {"6", 6},        {"7", 7},
    {"8", 8},        {"9", 9},         {"10", 10},       {"11", 11},      {"12", 12},
};

constexpr NameEntry kWeekdayNames[] = {
    {"sun", 0},       {"mon", 1},      {"tue", 2},    {"wed", 3},      {"thu", 4},
    {"fri", 5},       {"sat", 6},      {"sunday", 0}, {"monday", 1},   {"tuesday", 2},
    {"wednesday", 3}, {"thursday", 4}, {"friday", 5}, {"saturday", 6}, {"0", 0},
    {"1", 1},         {"2", 2},        {"3", 3},      {"4", 4},        {"5", 5},
    {"6", 6},         {"7", 0},
};

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

using Iterator = const char*;

// Fixed text (matched by other modules and operators): keep verbatim, typos too.
constexpr std::array<const char*, 7> kFieldFailures = {
    "Cannot parse the SECONDs field.", "Cannot parse the MINUTEs field.",
    "Cannot parse the HOURs field.",   "Cannot parse the DayOfMonth field.",
    "Cannot parse the Month field.",   "Cannot parse the DayOfWeek field.",
    "Cannot parse the YEARs field.",
};

constexpr bool IsCrontabSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Folds every run of white space to one blank and trims both ends, in place.
void Normalise(std::string& text) {
    std::size_t out = 0;
    bool blankPending = false;
    for (const char c : text) {
        if (IsCrontabSpace(c)) {
            blankPending = out != 0;
            continue;
        }
        if (blankPending) text[out++] = ' ';
        blankPending = false;
        text[out++] = c;
    }
    text.resize(out);
}

}  // namespace

// Hands the items of one field token to the field being built, as the grammar recognises
// them. The latest record waits until the next one (or the end of the token), because a
// suffix written after it (`L`, `W`, `#n`) still belongs to it.
class CCrontabParser::CCronFieldParser {
public:
    // `field` is the field object the records go to; it outlives the collector.
    template <typename Field>
    CCronFieldParser(const RandomSource& random, Field& field)
        : random_(random),
          field_(&field),
          addEvery_([](void* f, const EverySpec& r) { static_cast<Field*>(f)->AddEvery(r); }),
          addRange_([](void* f, const RangeSpec& r) { static_cast<Field*>(f)->AddRange(r); }),
          addStartStep_(
              [](void* f, const StartStepSpec& r) { static_cast<Field*>(f)->AddStartStep(r); }) {}

    void Clear() {
        lastDayOffsets_ = 0;
        anyValue_ = lastWeekdayOfMonth_ = drewRandom_ = false;
        pending_ = Kind::None;
    }

    // `*/n` or `R/n` (step present), `*` or `R`.
    void OnWildcard(char marker, const boost::optional<std::uint16_t>& step) {
        if (marker == '*') {
            Flush();
            every_ = {step.value_or(1), false, {}};
            pending_ = Kind::Every;
        } else {
            AddStartStep(0, step.value_or(0), true);
        }
    }
    // `a-b/n` (range and step present), `a-b`, `a/n`, `a`.
    void OnValue(std::uint16_t a, const boost::optional<std::uint16_t>& b,
                 const boost::optional<std::uint16_t>& step) {
        if (b) {
            Flush();
            range_ = {a, *b, step.value_or(1), false, {}};
            pending_ = Kind::Range;
        } else {
            AddStartStep(a, step.value_or(0), false);
        }
    }

    void OnAnyValue() { anyValue_ = true; }
    void OnLastWeekdayOfMonth() { lastWeekdayOfMonth_ = true; }
    // Offsets beyond 63 name no day of any month.
    void OnLastDayOffset(std::uint16_t offset) {
        if (offset < 64) lastDayOffsets_ |= std::uint64_t{1} << offset;
    }

    void OnLastSuffix() { PendingSuffix().last = true; }
    void OnNearestWeekdaySuffix() { PendingSuffix().nearestWeekday = true; }
    void OnNthSuffix(std::uint16_t n) {
        SuffixFlags& suffix = PendingSuffix();
        suffix.nth = true;
        suffix.nthValue = n;
    }

    // Hands the waiting record to the field.
    void Flush() {
        switch (pending_) {
            case Kind::Every:
                addEvery_(field_, every_);
                break;
            case Kind::Range:
                addRange_(field_, range_);
                break;
            case Kind::StartStep:
                addStartStep_(field_, startStep_);
                break;
            case Kind::None:
                break;
        }
        pending_ = Kind::None;
    }

    bool AnyValue() const { return anyValue_; }
    bool LastWeekdayOfMonth() const { return lastWeekdayOfMonth_; }
    std::uint64_t LastDayOffsets() const { return lastDayOffsets_; }
    bool DrewRandom() const { return drewRandom_; }

private:
    enum class Kind { None, Every, Range, StartStep };

    void AddStartStep(std::uint16_t start, std::uint16_t step, bool isRandom) {
        Flush();
        startStep_ = StartStepSpec();
        startStep_.start = start;
        startStep_.step = step;
        startStep_.isRandom = isRandom;
        if (isRandom) {
            startStep_.randomValue = random_();
            drewRandom_ = true;
        }
        pending_ = Kind::StartStep;
    }

    // The suffix of the waiting record; a suffix with nothing before it is a grammar
    // fault, reported as a failed parse.
    SuffixFlags& PendingSuffix() {
        switch (pending_) {
            case Kind::Every:
                every_.hasSuffix = true;
                return every_.suffix;
            case Kind::Range:
                range_.hasSuffix = true;
                return range_.suffix;
            case Kind::StartStep:
                startStep_.hasSuffix = true;
                return startStep_.suffix;
            case Kind::None:
                break;
        }
        // Fixed text (matched by other modules and operators): keep verbatim, typos too.
        throw CCrontabValidationException("Parsing failed.");
    }

    const RandomSource& random_;
    void* field_;
    void (*addEvery_)(void*, const EverySpec&);
    void (*addRange_)(void*, const RangeSpec&);
    void (*addStartStep_)(void*, const StartStepSpec&);
    EverySpec every_;
    RangeSpec range_;
    StartStepSpec startStep_;
    Kind pending_ = Kind::None;
    std::uint64_t lastDayOffsets_ = 0;  // bit k: `L-k`
    bool anyValue_ = false;
    bool lastWeekdayOfMonth_ = false;
    bool drewRandom_ = false;
};

// A field whose values are words of a table (months, weekdays) rather than plain numbers.
class CCrontabParser::CCronMonthParser : public CCronFieldParser {
public:
    // Groups the words by their first letter, so that a lookup compares only a few.
    template <typename Field, std::size_t N>
    CCronMonthParser(const RandomSource& random, Field& field, const NameEntry (&names)[N])
        : CCronFieldParser(random, field), names_(names, names + N) {
        std::stable_sort(names_.begin(), names_.end(), [](const NameEntry& a, const NameEntry& b) {
            return a.name[0] < b.name[0];
        });
        for (std::size_t i = 0; i < names_.size(); ++i) {
            auto& [begin, end] = byFirst_[static_cast<unsigned char>(names_[i].name[0])];
            if (begin == end) begin = static_cast<std::uint8_t>(i);
            end = static_cast<std::uint8_t>(i + 1);
        }
    }

    // The value of the longest table word at the start of [first, last) and its length,
    // or length 0 when no word matches.
    std::pair<std::uint16_t, std::size_t> Lookup(Iterator first, Iterator last) const {
        std::pair<std::uint16_t, std::size_t> best{0, 0};
        const auto available = static_cast<std::size_t>(last - first);
        if (available == 0) return best;
        const auto [begin, end] = byFirst_[static_cast<unsigned char>(AsciiLower(*first))];
        for (std::size_t e = begin; e < end; ++e) {
            const NameEntry& entry = names_[e];
            const std::size_t length = entry.name.size();
            if (length <= best.second || length > available) continue;
            std::size_t i = 1;
            while (i < length && AsciiLower(first[i]) == entry.name[i])
                ++i;
            if (i == length) best = {entry.value, length};
        }
        return best;
    }

private:
    std::vector<NameEntry> names_;
    std::array<std::pair<std::uint8_t, std::uint8_t>, 256> byFirst_{};  // [begin, end) by letter
};

namespace {

// A Qi terminal that reads one word of a CCronMonthParser's table.
template <typename Table>
struct NameTableParser : qi::primitive_parser<NameTableParser<Table>> {
    template <typename Context, typename It>
    struct attribute {
        using type = std::uint16_t;
    };

    explicit NameTableParser(const Table& table) : table(&table) {}

    template <typename It, typename Context, typename Skipper, typename Attribute>
    bool parse(It& first, const It& last, Context&, const Skipper& skipper,
               Attribute& attribute) const {
        qi::skip_over(first, last, skipper);
        const auto [value, length] = table->Lookup(first, last);
        if (length == 0) return false;
        first += length;
        boost::spirit::traits::assign_to(value, attribute);
        return true;
    }

    template <typename Context>
    boost::spirit::info what(Context&) const {
        return boost::spirit::info("name");
    }

    const Table* table;
};

// The table parser as an expression terminal, so that it combines with Qi operators.
template <typename Table>
auto NameTerminal(const Table& table) {
    return typename boost::proto::terminal<NameTableParser<Table>>::type{
        NameTableParser<Table>(table)};
}

const qi::uint_parser<std::uint16_t, 10, 1, -1> kNumber{};

// `*/n`, `R/n`, then `*`, `R`: the step is taken when it follows.
template <typename Collector>
auto WildcardForms(Collector& c) {
    return qi::copy(
        (qi::char_("*Rr") >>
         -('/' >> kNumber))[([&c](const auto& a) { c.OnWildcard(at_c<0>(a), at_c<1>(a)); })]);
}

// `a-b/n`, `a-b`, `a/n`, `a`, with values read by `value` and steps decimal. The longer
// forms are taken whenever they follow, which is the ordered choice of the four forms
// without reading the first value up to four times.
template <typename Collector, typename Value>
auto ValueForms(Collector& c, const Value& value) {
    return qi::copy(
        (value >> -('-' >> value) >>
         -('/' >>
           kNumber))[([&c](const auto& a) { c.OnValue(at_c<0>(a), at_c<1>(a), at_c<2>(a)); })]);
}

}  // namespace

struct CCrontabParser::Grammars {
    using Rule = qi::rule<Iterator>;

    // The fields of the crontab being parsed, filled as the grammars recognise items.
    struct Fields {
        CCrontabFieldSecond second;
        CCrontabFieldMinute minute;
        CCrontabFieldHour hour;
        CCrontabFieldDayOfMonth dayOfMonth;
        CCrontabFieldMonth month;
        CCrontabFieldDayOfWeek dayOfWeek;
        CCrontabFieldYear year;
    };

    explicit Grammars(RandomSource randomSource)
        : random(std::move(randomSource)),
          second(random, fields.second),
          minute(random, fields.minute),
          hour(random, fields.hour),
          dayOfMonth(random, fields.dayOfMonth),
          month(random, fields.month, kMonthNames),
          dayOfWeek(random, fields.dayOfWeek, kWeekdayNames),
          year(random, fields.year) {
        secondRule = PlainField(second);
        minuteRule = PlainField(minute);
        hourRule = PlainField(hour);
        yearRule = PlainField(year);

        monthRule = (WildcardForms(month) | ValueForms(month, NameTerminal(month))) % ',';

        CCronMonthParser& dow = dayOfWeek;
        const auto weekday = NameTerminal(dayOfWeek);
        dayOfWeekRule = (qi::lit('?')[([&dow] { dow.OnAnyValue(); })] |
                         ((WildcardForms(dow) | ValueForms(dow, weekday)) >>
                          -(qi::lit('L')[([&dow] { dow.OnLastSuffix(); })] |
                            ('#' >> kNumber)[([&dow](std::uint16_t n) { dow.OnNthSuffix(n); })]))) %
                        ',';

        CCronFieldParser& dom = dayOfMonth;
        dayOfMonthRule =
            (qi::lit('?')[([&dom] { dom.OnAnyValue(); })] |
             qi::lit("LW")[([&dom] { dom.OnLastWeekdayOfMonth(); })] | WildcardForms(dom) |
             (ValueForms(dom, kNumber) >>
              -qi::lit('W')[([&dom] { dom.OnNearestWeekdaySuffix(); })]) |
             ("L-" >> kNumber)[([&dom](std::uint16_t n) { dom.OnLastDayOffset(n); })] |
             qi::lit('L')[([&dom] { dom.OnLastDayOffset(0); })]) %
            ',';
    }

    static Rule PlainField(CCronFieldParser& c) {
        Rule rule = (WildcardForms(c) | ValueForms(c, kNumber)) % ',';
        return rule;
    }

    bool DrewRandom() const {
        for (const CCronFieldParser* c : Collectors()) {
            if (c->DrewRandom()) return true;
        }
        return false;
    }

    std::array<CCronFieldParser*, 7> Collectors() {
        return {&second, &minute, &hour, &dayOfMonth, &month, &dayOfWeek, &year};
    }
    std::array<const CCronFieldParser*, 7> Collectors() const {
        return {&second, &minute, &hour, &dayOfMonth, &month, &dayOfWeek, &year};
    }

    void Clear() {
        fields = Fields();
        for (CCronFieldParser* c : Collectors())
            c->Clear();
    }

    // Parses the tokens in field order; the first token that a grammar does not consume
    // completely fails the parse with its field's text.
    void ParseTokens(const std::array<std::string_view, 7>& tokens) {
        const std::array<const Rule*, 7> rules = {&secondRule,     &minuteRule, &hourRule,
                                                  &dayOfMonthRule, &monthRule,  &dayOfWeekRule,
                                                  &yearRule};
        const std::array<CCronFieldParser*, 7> collectors = Collectors();
        for (std::size_t i = 0; i < rules.size(); ++i) {
            Iterator first = tokens[i].data();
            const Iterator last = first + tokens[i].size();
            if (!qi::parse(first, last, *rules[i]) || first != last) {
                throw CCrontabValidationException(kFieldFailures[i]);
            }
            collectors[i]->Flush();
        }
    }

    // Checks every field in the order second, minute, hour, day of month, month, day of
    // week, year; the first bad record raises its field's text.
    void Compile() {
        fields.second.Compile();
        fields.minute.Compile();
        fields.hour.Compile();
        fields.dayOfMonth.SetAnyValue(dayOfMonth.AnyValue());
        for (std::uint64_t rest = dayOfMonth.LastDayOffsets(); rest != 0; rest &= rest - 1)
            fields.dayOfMonth.AddLastDayOffset(static_cast<std::uint16_t>(std::countr_zero(rest)));
        fields.dayOfMonth.SetLastWeekdayOfMonth(dayOfMonth.LastWeekdayOfMonth());
        fields.dayOfMonth.Compile();
        fields.month.Compile();
        fields.dayOfWeek.SetAnyValue(dayOfWeek.AnyValue());
        fields.dayOfWeek.Compile();
        fields.year.Compile();
    }

    RandomSource random;
    Fields fields;
    CCronFieldParser second;
    CCronFieldParser minute;
    CCronFieldParser hour;
    CCronFieldParser dayOfMonth;
    CCronMonthParser month;
    CCronMonthParser dayOfWeek;
    CCronFieldParser year;
    Rule secondRule, minuteRule, hourRule, dayOfMonthRule, monthRule, dayOfWeekRule, yearRule;
};

namespace {
CCrontabParser::RandomSource SystemRandom() {
    return [device = std::make_shared<boost::random::random_device>()] { return (*device)(); };
}
}  // namespace

CCrontabParser::CCrontabParser() : CCrontabParser(SystemRandom()) {}

CCrontabParser::CCrontabParser(RandomSource random)
    : grammars_(std::make_unique<Grammars>(std::move(random))) {}

CCrontabParser::~CCrontabParser() = default;

std::shared_ptr<CCronTab> CCrontabParser::Parse(std::string text) {
    Grammars& g = *grammars_;
    g.Clear();
    Normalise(text);

    std::array<std::string_view, 7> tokens;
    tokens[6] = "*";  // the year of a six-field text
    std::size_t count = 0;
    for (std::size_t begin = 0;; ++count) {
        const std::size_t end = std::min(text.find(' ', begin), text.size());
        if (count < tokens.size())
            tokens[count] = std::string_view(text).substr(begin, end - begin);
        if (end == text.size()) {
            ++count;
            break;
        }
        begin = end + 1;
    }
    // Fixed text (matched by other modules and operators): keep verbatim, typos too.
    if (count != 6 && count != 7) throw CCrontabValidationException("Invalid crontab string");

    try {
        g.ParseTokens(tokens);
    } catch (const CCrontabValidationException&) {
        throw;
    } catch (const std::exception& e) {
        throw CCrontabValidationException(e.what());
    }

    g.Compile();
    const Grammars::Fields& f = g.fields;
    return std::make_shared<CCronTab>(std::move(text), f.dayOfMonth, f.dayOfWeek, f.hour, f.minute,
                                      f.month, f.second, f.year, g.DrewRandom());
}

}  // namespace Zent::Scheduler
