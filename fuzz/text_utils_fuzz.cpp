// The text helpers run over header lines, SDP and OID replies sent by the
// device. Input: text and three marker/key arguments separated by 0x01 bytes.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "device/text_utils.h"

namespace {

std::vector<std::string_view> Fields(std::string_view in) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (fields.size() < 4) {
    const size_t end = in.find('\x01', start);
    if (end == std::string_view::npos) {
      fields.push_back(in.substr(start));
      break;
    }
    fields.push_back(in.substr(start, end - start));
    start = end + 1;
  }
  fields.resize(4);
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvela;
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string_view> f = Fields(in);
  const std::string_view text = f[0];

  const std::string between = ExtractBetween(text, f[1], f[2], f[3]);
  if (between.size() > text.size() || text.find(between) == std::string_view::npos) std::abort();

  const std::string value = GetValue(text, f[1], f[2], f[3]);
  if (value.size() > text.size() || text.find(value) == std::string_view::npos) std::abort();
  if (!f[3].empty() && value.find_first_of(f[3]) != std::string::npos) std::abort();

  size_t total = 0;
  for (const std::string& piece : Split(text, '\n')) {
    if (piece.find('\n') != std::string::npos) std::abort();
    total += piece.size() + 1;
  }
  if (total > text.size() + 1) std::abort();

  const std::string trimmed = Trim(text);
  if (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.back() == '\t')) std::abort();

  int32_t n = 0;
  if (ParseInt(text, n) && StrFormat("%d", n).size() > text.size() + 1) std::abort();
  if (HexToBytes(text).size() != (text.size() + 1) / 2) std::abort();

  uint32_t u = 0;
  if (ParseUint32(text, u) &&
      (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos))
    std::abort();
  uint32_t width = 0;
  uint32_t height = 0;
  if (ParseSizeText(text, width, height) && StrFormat("%ux%u", width, height).size() > text.size())
    std::abort();

  const std::string clean = CleanDeviceText(text);
  if (clean.size() > kMaxDeviceTextBytes || clean.size() > text.size()) std::abort();
  for (char c : clean) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) std::abort();
  }
  return 0;
}
