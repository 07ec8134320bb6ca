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

std::optional<uint32_t> Find(const std::map<uint32_t, uint32_t>& table, uint32_t key) {
  auto it = table.find(key);
  if (it == table.end()) return std::nullopt;
  return it->second;
}

}  // namespace

void CIOStateTable::Reset(uint32_t inputs, uint32_t outputs) {
  std::lock_guard guard(lock_);
  for (uint32_t i = 0; i < std::min(outputs, kMaxIoPoints); ++i) outputs_[i] = 0;
  for (uint32_t i = 0; i < std::min(inputs, kMaxIoPoints); ++i) inputs_[i] = 0;
}

void CIOStateTable::SetOutputs(uint32_t outputs, uint32_t state) {
  std::lock_guard guard(lock_);
  for (uint32_t i = 0; i < std::min(outputs, kMaxIoPoints); ++i) outputs_[i] = state;
}

bool CIOStateTable::UpdateInput(uint32_t input, uint32_t state) {
  std::lock_guard guard(lock_);
  return StoreIfDifferent(inputs_, input, state);
}

bool CIOStateTable::ClaimOutput(uint32_t output, uint32_t state) {
  std::lock_guard guard(lock_);
  return StoreIfDifferent(outputs_, output, state);
}

std::optional<uint32_t> CIOStateTable::Input(uint32_t input) const {
  std::lock_guard guard(lock_);
  return Find(inputs_, input);
}

std::optional<uint32_t> CIOStateTable::Output(uint32_t output) const {
  std::lock_guard guard(lock_);
  return Find(outputs_, output);
}

}  // namespace korvela
