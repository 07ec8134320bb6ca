#include "device/text_utils.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <limits>

#include "platform/random.h"
#include "util/ascii.h"
#include "util/base64.h"
#include "util/md5.h"

namespace korvela {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kAlphanumerics =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
// RFC 2045 section 6.8: encoded lines are at most 76 characters.
constexpr size_t kBase64LineLength = 76;

uint8_t HexDigitValue(char c) {
  const char lower = AsciiToLower(c);
  if (lower >= '0' && lower <= '9') return static_cast<uint8_t>(lower - '0');
  if (lower >= 'a' && lower <= 'f') return static_cast<uint8_t>(lower - 'a' + 10);
  return 0;
}

// Fills `out` from the cryptographic source; should the kernel source fail,
// RandomU32 falls back to std::random_device, never to a predictable generator.
void FillRandom(std::span<uint8_t> out) {
  if (platform::RandomBytes(out)) return;
  for (uint8_t& b : out) b = static_cast<uint8_t>(platform::RandomU32());
}

}  // namespace

std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiToLower(c);
  return out;
}

std::string Trim(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(kBlanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string RemoveChars(std::string_view text, std::string_view chars) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (chars.find(c) == std::string_view::npos) out += c;
  }
  return out;
}

std::string_view ExtractBetweenView(std::string_view text, std::string_view open,
                                    std::string_view open_end, std::string_view close) {
  if (open.empty() || open_end.empty() || close.empty()) return {};
  size_t from = 0;
  size_t end_pos = 0;
  for (;;) {
    const size_t open_pos = text.find(open, from);
    if (open_pos == std::string_view::npos) return {};
    end_pos = text.find(open_end, open_pos);
    if (end_pos == std::string_view::npos) return {};
    if (end_pos == open_pos + open.size()) break;
    // Always move forward, even when `open_end` begins inside `open`.
    from = std::max(end_pos, open_pos + 1);
  }
  const size_t content = end_pos + open_end.size();
  const size_t close_pos = text.find(close, content);
  if (close_pos == std::string_view::npos || close_pos == content) return {};
  return text.substr(content, close_pos - content);
}

std::string ExtractBetween(std::string_view text, std::string_view open, std::string_view open_end,
                           std::string_view close) {
  return std::string(ExtractBetweenView(text, open, open_end, close));
}

std::string GetValue(std::string_view text, std::string_view key, std::string_view separator,
                     std::string_view delimiters) {
  if (key.empty() || separator.empty() || delimiters.empty()) return {};
  constexpr size_t npos = std::string_view::npos;
  size_t pos = text.find(key);
  while (pos != npos) {
    const size_t last_delim = pos == 0 ? npos : text.find_last_of(delimiters, pos - 1);
    const size_t item_start = last_delim == npos ? 0 : last_delim + 1;
    const size_t item_end = std::min(text.find_first_of(delimiters, pos), text.size());
    // Only a separator that starts inside this item counts, so it is searched
    // there alone: searching on to the end of the text for every item made a
    // reply of many lines holding the key quadratic.
    const size_t search_end = std::min(text.size(), item_end + separator.size() - 1);
    const size_t found = text.substr(pos, search_end - pos).find(separator);
    if (found != npos) {
      const size_t sep_pos = pos + found;
      if (Trim(text.substr(item_start, sep_pos - item_start)) == key) {
        const size_t value_start = sep_pos + separator.size();
        if (value_start < item_end) {
          return std::string(text.substr(value_start, item_end - value_start));
        }
        // Empty value: a later item of the same name may carry one.
      }
    }
    if (item_end == text.size()) return {};
    // Go on with the next item; advancing by at least one keeps a key that
    // itself contains a delimiter from stalling the search.
    pos = text.find(key, std::max(item_end, pos + 1));
  }
  return {};
}

std::vector<std::string> Split(std::string_view text, char delimiter) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find(delimiter, start);
    if (end == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      break;
    }
    pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

bool ParseInt(std::string_view text, int32_t& value) {
  value = 0;
  if (text.empty()) return false;
  const bool negative = text.front() == '-';
  if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
  if (text.empty()) return false;
  // Accumulate towards the sign so that INT32_MIN parses without overflow.
  int64_t result = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
    result = result * 10 + (negative ? -(c - '0') : (c - '0'));
    if (result > std::numeric_limits<int32_t>::max() ||
        result < std::numeric_limits<int32_t>::min()) {
      return false;
    }
  }
  value = static_cast<int32_t>(result);
  return true;
}

bool ParseUint32(std::string_view text, uint32_t& value) {
  value = 0;
  if (text.empty()) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (!IsAsciiDigit(c)) return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
    if (result > std::numeric_limits<uint32_t>::max()) return false;
  }
  value = static_cast<uint32_t>(result);
  return true;
}

bool ParseSizeText(std::string_view text, uint32_t& width, uint32_t& height) {
  width = height = 0;
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  uint32_t w = 0;
  uint32_t h = 0;
  if (!ParseUint32(text.substr(0, x), w) || !ParseUint32(text.substr(x + 1), h)) return false;
  width = w;
  height = h;
  return true;
}

std::string CleanDeviceText(std::string_view text) {
  if (text.size() > kMaxDeviceTextBytes) {
    // A UTF-8 sequence is a lead byte (11xxxxxx) and up to three continuation
    // bytes (10xxxxxx): a sequence the cut would split goes as a whole.
    auto bits = [&](size_t i) { return static_cast<uint8_t>(text[i]) & 0xC0; };
    size_t cut = kMaxDeviceTextBytes;
    size_t lead = cut;
    for (int i = 0; i < 3 && lead > 0 && bits(lead) == 0x80; ++i) --lead;
    if (lead != cut && bits(lead) == 0xC0) cut = lead;
    text = text.substr(0, cut);
  }
  std::string out(text);
  for (char& c : out) {
    if (IsAsciiControl(c)) c = '?';
  }
  return out;
}

std::vector<uint8_t> HexToBytes(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2 + 1);
  size_t i = 0;
  for (; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(HexDigitValue(text[i]) * 16 + HexDigitValue(text[i + 1])));
  }
  if (i < text.size()) bytes.push_back(HexDigitValue(text[i]));
  return bytes;
}

std::string Md5Hex(std::string_view text) { return codec::Md5HexOf(text); }

size_t Base64EncodeCapacity(size_t length) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  const size_t groups = length / 3 + (length % 3 != 0 ? 1 : 0);
  if (groups > (kMax - 2) / 5) return 0;  // 4 characters per group plus line breaks
  const size_t encoded = groups * 4;
  return encoded + 2 * (encoded / kBase64LineLength) + 2;
}

bool Base64Encode(std::span<const uint8_t> input, std::span<char> output, size_t& written) {
  written = 0;
  if (input.data() == nullptr || output.data() == nullptr) return false;
  const size_t needed = Base64EncodeCapacity(input.size());
  if (needed == 0 || needed > output.size()) return false;
  const std::string plain = codec::Base64Encode(input);
  size_t out = 0;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i != 0 && i % kBase64LineLength == 0) {
      output[out++] = '\r';
      output[out++] = '\n';
    }
    output[out++] = plain[i];
  }
  written = out;
  return true;
}

std::string MakeBasicToken(std::string_view user, std::string_view password) {
  std::string credentials;
  credentials.reserve(user.size() + 1 + password.size());
  credentials.append(user).append(":").append(password);
  return codec::Base64Encode(std::string_view(credentials));
}

std::string RandomString(size_t length) {
  // 248 is the largest multiple of 62 below 256: bytes from 248 up are
  // redrawn so that every character is equally likely.
  constexpr uint8_t kLimit = 248;
  std::string out;
  out.reserve(length);
  uint8_t pool[64];
  while (out.size() < length) {
    FillRandom(pool);
    for (uint8_t b : pool) {
      if (b >= kLimit) continue;
      out += kAlphanumerics[b % kAlphanumerics.size()];
      if (out.size() == length) break;
    }
  }
  return out;
}

uint32_t IntervalFromRate(uint32_t rate) {
  if (rate == 0) return 1;
  // floor(1000 / rate + 0.5) in integers.
  return static_cast<uint32_t>((uint64_t{2000} + rate) / (uint64_t{2} * rate));
}

}  // namespace korvela
