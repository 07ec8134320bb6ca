// TAudioChannelTable: the open audio channels of one audio object, keyed by
// the recorder's channel number, at most `limit` at once.
//
// Threading: any recorder thread. lock_ guards the map. Open creates and
// starts a channel while holding the lock, so two openings never race for one
// key. Find hands out a shared_ptr copy: a channel found stays alive until the
// caller drops it, even when another thread closes that key meanwhile. Stop
// and the deletion of a closed channel run outside the lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/sync_lock.h"
#include "util/thread_annotations.h"

namespace korvela {

template <typename Channel>
class TAudioChannelTable {
 public:
  using ChannelPtr = std::shared_ptr<Channel>;

  explicit TAudioChannelTable(uint32_t limit) : limit_(limit) {}
  TAudioChannelTable(const TAudioChannelTable&) = delete;
  TAudioChannelTable& operator=(const TAudioChannelTable&) = delete;
  ~TAudioChannelTable() { CloseAll(); }

  uint32_t limit() const { return limit_; }

  // True when the key is open afterwards. `create` returns a new channel
  // (owned by the table from then on) or null.
  template <typename Create>
  bool Open(uint32_t key, Create&& create) {
    CSyncLockGuard guard(lock_);
    if (table_.count(key) != 0) return true;
    if (table_.size() >= limit_) return false;
    Channel* raw = create();
    if (raw == nullptr) return false;
    ChannelPtr channel;
    try {
      channel = ChannelPtr(raw);
    } catch (const std::bad_alloc&) {
      return false;  // shared_ptr deleted the channel
    }
    if (channel->Start()) {
      try {
        table_.emplace(key, channel);
        return true;
      } catch (const std::bad_alloc&) {
        // Not inserted: stopped and deleted below.
      }
    }
    channel->Stop();
    return false;
  }

  // The result of the channel's Stop; false when the key is not open.
  bool Close(uint32_t key) {
    ChannelPtr channel;
    {
      CSyncLockGuard guard(lock_);
      auto it = table_.find(key);
      if (it == table_.end()) return false;
      channel = std::move(it->second);
      table_.erase(it);
    }
    return channel->Stop();
  }

  ChannelPtr Find(uint32_t key) {
    CSyncLockGuard guard(lock_);
    auto it = table_.find(key);
    return it == table_.end() ? nullptr : it->second;
  }

  // Calls fn(channel) with the lock held; `fallback` when the key is not open.
  template <typename Result, typename Fn>
  Result WithLocked(uint32_t key, Result fallback, Fn&& fn) {
    CSyncLockGuard guard(lock_);
    auto it = table_.find(key);
    return it == table_.end() ? fallback : fn(*it->second);
  }

  uint32_t Count() {
    CSyncLockGuard guard(lock_);
    return static_cast<uint32_t>(table_.size());
  }

  void CloseAll() {
    std::map<uint32_t, ChannelPtr> closing;
    {
      CSyncLockGuard guard(lock_);
      closing.swap(table_);
    }
    for (auto& [key, channel] : closing) channel->Stop();
  }

 private:
  const uint32_t limit_;
  CSyncLock lock_;
  std::map<uint32_t, ChannelPtr> table_ GUARDED_BY(lock_);
};

}  // namespace korvela
