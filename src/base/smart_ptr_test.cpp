#include "base/smart_ptr.h"

#include <atomic>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace korvela {
namespace {

class Base {
 public:
  explicit Base(std::atomic<int>* deleted) : deleted_(deleted) {}
  virtual ~Base() { ++*deleted_; }

 private:
  std::atomic<int>* deleted_;
};

class Derived : public Base {
 public:
  Derived(std::atomic<int>* deleted, std::atomic<int>* derived_deleted)
      : Base(deleted), derived_deleted_(derived_deleted) {}
  ~Derived() override { ++*derived_deleted_; }

 private:
  std::atomic<int>* derived_deleted_;
};

TEST(TSmartPtrTest, LastHolderDeletesThroughTheVirtualDestructor) {
  std::atomic<int> deleted{0}, derived_deleted{0};
  {
    TSmartPtr<Base> a(new Derived(&deleted, &derived_deleted));
    EXPECT_EQ(a.UseCount(), 1);
    {
      TSmartPtr<Base> b(a);
      TSmartPtr<Base> c;
      c = b;
      EXPECT_EQ(a.UseCount(), 3);
      EXPECT_EQ(c.get(), a.get());
    }
    EXPECT_EQ(deleted.load(), 0);
    EXPECT_EQ(a.UseCount(), 1);
  }
  EXPECT_EQ(deleted.load(), 1);
  EXPECT_EQ(derived_deleted.load(), 1);
}

TEST(TSmartPtrTest, AssignMoveAndManyCopies) {
  std::atomic<int> deleted{0};
  TSmartPtr<Base> p(new Base(&deleted));
  Base* first = p.get();
  p = p.get();  // the object held already: must not be deleted
  EXPECT_EQ(p.get(), first);
  EXPECT_EQ(deleted.load(), 0);
  p = new Base(&deleted);  // the current one goes first
  EXPECT_EQ(deleted.load(), 1);
  TSmartPtr<Base> moved(std::move(p));
  EXPECT_FALSE(p);
  EXPECT_EQ(moved.UseCount(), 1);
  {
    // More holders than a signed 8-bit count could hold.
    std::vector<TSmartPtr<Base>> copies(300, moved);
    EXPECT_EQ(moved.UseCount(), 301);
  }
  EXPECT_EQ(deleted.load(), 1);
  TSmartPtr<Base> last;
  last = std::move(moved);
  EXPECT_EQ(last.UseCount(), 1);
  last = nullptr;
  EXPECT_EQ(deleted.load(), 2);
  EXPECT_EQ(last.UseCount(), 0);
}

TEST(TSmartPtrTest, CopiesOnSeveralThreadsKeepTheCountExact) {
  std::atomic<int> deleted{0};
  TSmartPtr<Base> shared(new Base(&deleted));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([copy = shared]() mutable {
      for (int i = 0; i < 5000; ++i) {
        TSmartPtr<Base> local(copy);
        local.Release();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared.UseCount(), 1);
  EXPECT_EQ(deleted.load(), 0);
  shared.Release();
  EXPECT_EQ(deleted.load(), 1);
}

}  // namespace
}  // namespace korvela
