#include "device/io_base_states.h"

#include <algorithm>

namespace korvela {
namespace {

bool StoreIfDifferent(std::map<uint32_t, uint32_t>& table, uint32_t key, uint32_t state) {
  auto it = table.find(key);
  if (it == table.end() || it->second == state) return false;
  it->second = state;
  return true;
}

template <class Table, class Value>
std::optional<uint32_t> Find(const Table& table, uint32_t key, Value value) {
  auto it = table.find(key);
  if (it == table.end()) return std::nullopt;
  return value(it->second);
}

}  // namespace

void CIOStateTable::Reset(uint32_t inputs, uint32_t outputs) {
  CSyncLockGuard guard(lock_);
  for (uint32_t i = 0; i < std::min(outputs, kMaxIoPoints); ++i) outputs_[i] = OutputEntry{};
  for (uint32_t i = 0; i < std::min(inputs, kMaxIoPoints); ++i) inputs_[i] = 0;
}

void CIOStateTable::SetOutputs(uint32_t outputs, uint32_t state) {
  CSyncLockGuard guard(lock_);
  for (uint32_t i = 0; i < std::min(outputs, kMaxIoPoints); ++i) outputs_[i] = {state, true};
}

bool CIOStateTable::UpdateInput(uint32_t input, uint32_t state) {
  CSyncLockGuard guard(lock_);
  return StoreIfDifferent(inputs_, input, state);
}

bool CIOStateTable::ClaimOutput(uint32_t output, uint32_t state) {
  CSyncLockGuard guard(lock_);
  auto it = outputs_.find(output);
  if (it == outputs_.end()) return false;
  if (it->second.confirmed && it->second.state == state) return false;
  it->second = {state, true};
  return true;
}

std::optional<uint32_t> CIOStateTable::Input(uint32_t input) const {
  CSyncLockGuard guard(lock_);
  return Find(inputs_, input, [](uint32_t state) { return state; });
}

std::optional<uint32_t> CIOStateTable::Output(uint32_t output) const {
  CSyncLockGuard guard(lock_);
  return Find(outputs_, output, [](const OutputEntry& entry) { return entry.state; });
}

}  // namespace korvela
