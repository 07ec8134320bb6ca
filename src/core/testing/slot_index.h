// ContractSlot(&Class::Method): the slot number of a virtual method, counted
// as the interfaces are written (slot 0 = the virtual destructor).
//
// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its vtable entry, and the virtual destructor takes
// two entries (complete and deleting), so slot N (N >= 1) is vtable entry
// N + 1. Returns -1 for a non-virtual method.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

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

}  // namespace korvela::testing

#define EXPECT_SLOT(cls, method, slot) \
  EXPECT_EQ(::korvela::testing::ContractSlot(&cls::method), slot) << #cls "::" #method
