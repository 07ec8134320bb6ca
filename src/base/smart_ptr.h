// TSmartPtr<T>: a reference-counting holder for objects with a virtual
// destructor (UDP clients, camera-properties objects, audio parsers). The last
// holder deletes the object.
//
// The count is a heap-allocated atomic 32-bit value, so copies of one holder
// may live on different threads; one holder object itself is not to be
// changed by two threads at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

namespace korvela {

template <class T>
class TSmartPtr {
 public:
  TSmartPtr() = default;
  // Takes ownership of `object` (may be null).
  explicit TSmartPtr(T* object) { Attach(object); }
  TSmartPtr(const TSmartPtr& other) : count_(other.count_), object_(other.object_) {
    if (count_ != nullptr) count_->fetch_add(1, std::memory_order_relaxed);
  }
  TSmartPtr(TSmartPtr&& other) noexcept
      : count_(std::exchange(other.count_, nullptr)),
        object_(std::exchange(other.object_, nullptr)) {}
  virtual ~TSmartPtr() { Release(); }

  TSmartPtr& operator=(const TSmartPtr& other) {
    if (this != &other) {
      TSmartPtr copy(other);
      Swap(copy);
    }
    return *this;
  }
  TSmartPtr& operator=(TSmartPtr&& other) noexcept {
    if (this != &other) {
      Release();
      count_ = std::exchange(other.count_, nullptr);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  // Releases the current object, then takes ownership of `object`. Assigning
  // the object already held is a no-op (releasing first would delete it).
  TSmartPtr& operator=(T* object) {
    if (object != object_ || object == nullptr) {
      Release();
      Attach(object);
    }
    return *this;
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Number of holders sharing the object; 0 when empty.
  int32_t UseCount() const { return count_ != nullptr ? count_->load() : 0; }

  void Release() {
    if (count_ != nullptr && count_->fetch_sub(1, std::memory_order_acq_rel) == 1) {
      delete object_;
      delete count_;
    }
    count_ = nullptr;
    object_ = nullptr;
  }

 private:
  void Attach(T* object) {
    if (object == nullptr) return;
    count_ = new (std::nothrow) std::atomic<int32_t>(1);
    if (count_ == nullptr) {
      delete object;  // it cannot be held; do not leak it
      return;
    }
    object_ = object;
  }
  void Swap(TSmartPtr& other) noexcept {
    std::swap(count_, other.count_);
    std::swap(object_, other.object_);
  }

  std::atomic<int32_t>* count_ = nullptr;
  T* object_ = nullptr;
};

}  // namespace korvela
