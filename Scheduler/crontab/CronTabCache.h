#pragma once

// Compiled crontabs kept by their text, so that asking again for a text seen before costs
// a lookup instead of a parse, and everyone who asks for one text shares one CCronTab.
//
//     CCronTabCache cache(256);
//     std::shared_ptr<const CCronTab> a = cache.Get("0 30 8 ? * mon-fri");  // parsed
//     std::shared_ptr<const CCronTab> b = cache.Get("0 30 8 ? * mon-fri");  // a again
//
// A text with `R` items is parsed at every call and never kept: its random values are
// drawn anew at each parse, so two askers must not share them. When the cache is full the
// text used least recently makes room. Thread-safe: one lock guards the entries and the
// cache's own parser, so parses of missing texts are serialised.

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "CronTab.h"
#include "CrontabParser.h"

namespace Zent::Scheduler {

class CCronTabCache {
public:
    static constexpr std::size_t kDefaultCapacity = 256;

    // Keeps up to `capacity` texts (at least one); `R` items draw from the operating
    // system's random device.
    explicit CCronTabCache(std::size_t capacity = kDefaultCapacity);
    // The same with another source for `R` items (tests make them predictable).
    CCronTabCache(std::size_t capacity, CCrontabParser::RandomSource random);

    CCronTabCache(const CCronTabCache&) = delete;
    CCronTabCache& operator=(const CCronTabCache&) = delete;

    // The compiled crontab of `text` exactly as written (texts that differ only in blanks
    // are kept apart). Raises the parser's CCrontabValidationException for a bad text,
    // which is not kept.
    std::shared_ptr<const CCronTab> Get(const std::string& text);

    // How many texts are kept now.
    std::size_t Size() const;

private:
    using Recency = std::list<std::string>;  // most recently used first
    struct Entry {
        std::shared_ptr<const CCronTab> crontab;
        Recency::iterator position;
    };

    const std::size_t capacity_;
    mutable std::mutex mutex_;
    CCrontabParser parser_;
    Recency recency_;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace Zent::Scheduler
