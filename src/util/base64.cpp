#include "util/base64.h"

#include <array>

namespace korvela::codec {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> MakeReverse() {
  std::array<int8_t, 256> table{};
  for (auto& v : table) v = -1;
  for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

constexpr std::array<int8_t, 256> kReverse = MakeReverse();

}  // namespace

std::string Base64Encode(std::span<const uint8_t> data) {
  std::string out;
  out.reserve(Base64EncodedSize(data.size()));
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back(kAlphabet[v & 63]);
  }
  const size_t rest = data.size() - i;
  if (rest == 1) {
    const uint32_t v = uint32_t{data[i]} << 16;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.append("==");
  } else if (rest == 2) {
    const uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(kAlphabet[(v >> 6) & 63]);
    out.push_back('=');
  }
  return out;
}

std::string Base64Encode(std::string_view text) {
  return Base64Encode(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int padding = 0;
    if (last && text[i + 3] == '=') padding = (text[i + 2] == '=') ? 2 : 1;
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      int8_t d = 0;
      if (k < 4 - padding) {
        d = kReverse[static_cast<uint8_t>(text[i + k])];
        if (d < 0) return std::nullopt;
      }
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (padding == 2) {
      if ((v & 0xffff) != 0) return std::nullopt;  // non-canonical trailing bits
      break;
    }
    out.push_back(static_cast<uint8_t>(v >> 8));
    if (padding == 1) {
      if ((v & 0xff) != 0) return std::nullopt;
      break;
    }
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

}  // namespace korvela::codec
