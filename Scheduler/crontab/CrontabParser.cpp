#include "CrontabParser.h"

#include <array>
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

// Collects the items of one field token as the grammar recognises them.
class CCrontabParser::CCronFieldParser {
public:
    explicit CCronFieldParser(const RandomSource& random) : random_(random) {}

    void Clear() {
        ranges_.clear();
        startSteps_.clear();
        everies_.clear();
        lastDayOffsets_.clear();
        anyValue_ = lastWeekdayOfMonth_ = drewRandom_ = false;
        lastAdded_ = Kind::None;
    }

    // `*/n` or `R/n`.
    void OnWildcardStep(char marker, std::uint16_t step) {
        if (marker == '*') {
            everies_.push_back({step, false, {}});
            lastAdded_ = Kind::Every;
        } else {
            AddStartStep(0, step, true);
        }
    }
    // `*` or `R`.
    void OnWildcard(char marker) { OnWildcardStep(marker, marker == '*' ? 1 : 0); }
    void OnRange(std::uint16_t start, std::uint16_t end, std::uint16_t step) {
        ranges_.push_back({start, end, step, false, {}});
        lastAdded_ = Kind::Range;
    }
    void OnStartStep(std::uint16_t start, std::uint16_t step) { AddStartStep(start, step, false); }

    void OnAnyValue() { anyValue_ = true; }
    void OnLastWeekdayOfMonth() { lastWeekdayOfMonth_ = true; }
    void OnLastDayOffset(std::uint16_t offset) { lastDayOffsets_.insert(offset); }

    void OnLastSuffix() { LastSuffix().last = true; }
    void OnNearestWeekdaySuffix() { LastSuffix().nearestWeekday = true; }
    void OnNthSuffix(std::uint16_t n) {
        SuffixFlags& suffix = LastSuffix();
        suffix.nth = true;
        suffix.nthValues.push_back(n);
    }

    // Hands the collected records to a fresh field, in the order every, range, start/step.
    template <typename Field>
    void Fill(Field& field) const {
        for (const EverySpec& spec : everies_)
            field.AddEvery(spec);
        for (const RangeSpec& spec : ranges_)
            field.AddRange(spec);
        for (const StartStepSpec& spec : startSteps_)
            field.AddStartStep(spec);
    }

    bool AnyValue() const { return anyValue_; }
    bool DrewRandom() const { return drewRandom_; }
    bool LastWeekdayOfMonth() const { return lastWeekdayOfMonth_; }
    const std::set<std::uint16_t>& LastDayOffsets() const { return lastDayOffsets_; }

private:
    enum class Kind { None, Every, Range, StartStep };

    void AddStartStep(std::uint16_t start, std::uint16_t step, bool isRandom) {
        StartStepSpec spec;
        spec.start = start;
        spec.step = step;
        spec.isRandom = isRandom;
        if (isRandom) {
            spec.randomValue = random_();
            drewRandom_ = true;
        }
        startSteps_.push_back(std::move(spec));
        lastAdded_ = Kind::StartStep;
    }

    // The suffix of the record added last; a suffix with nothing before it is a grammar
    // fault, reported as a failed parse.
    SuffixFlags& LastSuffix() {
        switch (lastAdded_) {
            case Kind::Every:
                everies_.back().hasSuffix = true;
                return everies_.back().suffix;
            case Kind::Range:
                ranges_.back().hasSuffix = true;
                return ranges_.back().suffix;
            case Kind::StartStep:
                startSteps_.back().hasSuffix = true;
                return startSteps_.back().suffix;
            case Kind::None:
                break;
        }
        throw CCrontabValidationException("Parsing failed.");
    }

    const RandomSource& random_;
    std::vector<RangeSpec> ranges_;
    std::vector<StartStepSpec> startSteps_;
    std::vector<EverySpec> everies_;
    std::set<std::uint16_t> lastDayOffsets_;
    bool anyValue_ = false;
    bool lastWeekdayOfMonth_ = false;
    bool drewRandom_ = false;
    Kind lastAdded_ = Kind::None;
};

// A field whose values are words of a table (months, weekdays) rather than plain numbers.
class CCrontabParser::CCronMonthParser : public CCronFieldParser {
public:
    template <std::size_t N>
    CCronMonthParser(const RandomSource& random, const NameEntry (&names)[N])
        : CCronFieldParser(random), names_(names, names + N) {}

    // The value of the longest table word at the start of [first, last) and its length,
    // or length 0 when no word matches.
    std::pair<std::uint16_t, std::size_t> Lookup(Iterator first, Iterator last) const {
        std::pair<std::uint16_t, std::size_t> best{0, 0};
        const auto available = static_cast<std::size_t>(last - first);
        for (const NameEntry& entry : names_) {
            const std::size_t length = entry.name.size();
            if (length <= best.second || length > available) continue;
            std::size_t i = 0;
            while (i < length && AsciiLower(first[i]) == entry.name[i])
                ++i;
            if (i == length) best = {entry.value, length};
        }
        return best;
    }

private:
    std::vector<NameEntry> names_;
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

// `*/n`, `R/n`, then `*`, `R`.
template <typename Collector>
auto WildcardForms(Collector& c) {
    const auto marker = qi::char_("*Rr");
    return qi::copy((marker >> '/' >>
                     kNumber)[([&c](const auto& a) { c.OnWildcardStep(at_c<0>(a), at_c<1>(a)); })] |
                    marker[([&c](char m) { c.OnWildcard(m); })]);
}

// `a-b/n`, `a-b`, `a/n`, `a`, with values read by `value` and steps decimal.
template <typename Collector, typename Value>
auto ValueForms(Collector& c, const Value& value) {
    return qi::copy(
        (value >> '-' >> value >> '/' >>
         kNumber)[([&c](const auto& a) { c.OnRange(at_c<0>(a), at_c<1>(a), at_c<2>(a)); })] |
        (value >> '-' >> value)[([&c](const auto& a) { c.OnRange(at_c<0>(a), at_c<1>(a), 1); })] |
        (value >> '/' >>
         kNumber)[([&c](const auto& a) { c.OnStartStep(at_c<0>(a), at_c<1>(a)); })] |
        value[([&c](std::uint16_t a) { c.OnStartStep(a, 0); })]);
}

}  // namespace

struct CCrontabParser::Grammars {
    using Rule = qi::rule<Iterator>;

    explicit Grammars(RandomSource randomSource)
        : random(std::move(randomSource)),
          second(random),
          minute(random),
          hour(random),
          dayOfMonth(random),
          month(random, kMonthNames),
          dayOfWeek(random, kWeekdayNames),
          year(random) {
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
        for (CCronFieldParser* c : Collectors())
            c->Clear();
    }

    // Parses the tokens in field order; the first token that a grammar does not consume
    // completely fails the parse with its field's text.
    void ParseTokens(const std::array<std::string_view, 7>& tokens) {
        const std::array<const Rule*, 7> rules = {&secondRule,     &minuteRule, &hourRule,
                                                  &dayOfMonthRule, &monthRule,  &dayOfWeekRule,
                                                  &yearRule};
        for (std::size_t i = 0; i < rules.size(); ++i) {
            Iterator first = tokens[i].data();
            const Iterator last = first + tokens[i].size();
            if (!qi::parse(first, last, *rules[i]) || first != last) {
                throw CCrontabValidationException(kFieldFailures[i]);
            }
        }
    }

    template <typename Field>
    std::shared_ptr<Field> Build(const CCronFieldParser& collector) const {
        auto field = std::make_shared<Field>();
        collector.Fill(*field);
        return field;
    }

    RandomSource random;
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
    if (count != 6 && count != 7) throw CCrontabValidationException("Invalid crontab string");

    try {
        g.ParseTokens(tokens);
    } catch (const CCrontabValidationException&) {
        throw;
    } catch (const std::exception& e) {
        throw CCrontabValidationException(e.what());
    }

    auto second = g.Build<CCrontabFieldSecond>(g.second);
    second->Compile();
    auto minute = g.Build<CCrontabFieldMinute>(g.minute);
    minute->Compile();
    auto hour = g.Build<CCrontabFieldHour>(g.hour);
    hour->Compile();
    auto dayOfMonth = g.Build<CCrontabFieldDayOfMonth>(g.dayOfMonth);
    dayOfMonth->SetAnyValue(g.dayOfMonth.AnyValue());
    dayOfMonth->SetLastDayOffsets(g.dayOfMonth.LastDayOffsets());
    dayOfMonth->SetLastWeekdayOfMonth(g.dayOfMonth.LastWeekdayOfMonth());
    dayOfMonth->Compile();
    auto month = g.Build<CCrontabFieldMonth>(g.month);
    month->Compile();
    auto dayOfWeek = g.Build<CCrontabFieldDayOfWeek>(g.dayOfWeek);
    dayOfWeek->SetAnyValue(g.dayOfWeek.AnyValue());
    dayOfWeek->Compile();
    auto year = g.Build<CCrontabFieldYear>(g.year);
    year->Compile();

    return std::make_shared<CCronTab>(std::move(text), std::move(dayOfMonth), std::move(dayOfWeek),
                                      std::move(hour), std::move(minute), std::move(month),
                                      std::move(second), std::move(year), g.DrewRandom());
}

}  // namespace Zent::Scheduler
