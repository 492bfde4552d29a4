#include "CronTabCache.h"

#include <algorithm>

namespace Zent::Scheduler {

CCronTabCache::CCronTabCache(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)) {}

CCronTabCache::CCronTabCache(std::size_t capacity, CCrontabParser::RandomSource random)
    : capacity_(std::max<std::size_t>(capacity, 1)), parser_(std::move(random)) {}

std::shared_ptr<const CCronTab> CCronTabCache::Get(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (const auto found = entries_.find(text); found != entries_.end()) {
        recency_.splice(recency_.begin(), recency_, found->second.position);
        return found->second.crontab;
    }
    std::shared_ptr<const CCronTab> crontab = parser_.Parse(text);
    if (crontab->HasRandomItems()) return crontab;
    if (entries_.size() >= capacity_) {
        entries_.erase(recency_.back());
        recency_.pop_back();
    }
    recency_.push_front(text);
    try {
        entries_.emplace(text, Entry{crontab, recency_.begin()});
    } catch (...) {
        recency_.pop_front();
        throw;
    }
    return crontab;
}

std::size_t CCronTabCache::Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace Zent::Scheduler
