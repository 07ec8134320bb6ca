// ContractSlot(&Class::Method): the slot number of a virtual method, counted
// as the interfaces are written (slot 0 = the virtual destructor).
//
// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its vtable entry, and the virtual destructor takes
// two entries (complete and deleting), so slot N (N >= 1) is vtable entry
// N + 1. Returns -1 for a non-virtual method.
//
// EXPECT_SLOTS(Class, m1, m2, ...) expects m1 in slot 1, m2 in slot 2 and so
// on: every slot of an interface listed in order, placeholders included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace korvela::testing {

template <typename Pmf>
int ContractSlot(Pmf pmf) {
  struct Repr {
    uintptr_t ptr;
    ptrdiff_t adj;
  };
  static_assert(sizeof(Pmf) == sizeof(Repr));
  Repr repr;
  std::memcpy(&repr, &pmf, sizeof repr);
  if ((repr.ptr & 1u) == 0) return -1;
  return static_cast<int>((repr.ptr - 1) / sizeof(void*)) - 1;
}

// `names` is the macro's comma-separated method list, `slots` their slots.
inline void ExpectSlotsInOrder(const char* cls, const std::string& names,
                               const std::vector<int>& slots) {
  size_t begin = 0;
  for (size_t i = 0; i < slots.size(); ++i) {
    const size_t end = names.find(',', begin);
    const std::string name = names.substr(begin, end - begin);
    begin = names.find_first_not_of(' ', end + 1);
    EXPECT_EQ(slots[i], static_cast<int>(i + 1)) << cls << "::" << name;
  }
}

}  // namespace korvela::testing

#define KORVELA_SLOT_PARENS ()
// Each expansion level rescans three times: 27 rescans, one per method.
#define KORVELA_SLOT_EXPAND(...) \
  KORVELA_SLOT_EXPAND2(KORVELA_SLOT_EXPAND2(KORVELA_SLOT_EXPAND2(__VA_ARGS__)))
#define KORVELA_SLOT_EXPAND2(...) \
  KORVELA_SLOT_EXPAND1(KORVELA_SLOT_EXPAND1(KORVELA_SLOT_EXPAND1(__VA_ARGS__)))
#define KORVELA_SLOT_EXPAND1(...) \
  KORVELA_SLOT_EXPAND0(KORVELA_SLOT_EXPAND0(KORVELA_SLOT_EXPAND0(__VA_ARGS__)))
#define KORVELA_SLOT_EXPAND0(...) __VA_ARGS__
#define KORVELA_SLOTS_OF(cls, ...) \
  __VA_OPT__(KORVELA_SLOT_EXPAND(KORVELA_SLOTS_NEXT(cls, __VA_ARGS__)))
#define KORVELA_SLOTS_NEXT(cls, method, ...)      \
  ::korvela::testing::ContractSlot(&cls::method), \
      __VA_OPT__(KORVELA_SLOTS_AGAIN KORVELA_SLOT_PARENS(cls, __VA_ARGS__))
#define KORVELA_SLOTS_AGAIN() KORVELA_SLOTS_NEXT

#define EXPECT_SLOTS(cls, ...) \
  ::korvela::testing::ExpectSlotsInOrder(#cls, #__VA_ARGS__, {KORVELA_SLOTS_OF(cls, __VA_ARGS__)})
