#include "faults.h"

#include <charconv>
#include <string>

namespace camsim {
namespace {

// Longest restart or delay a fault may ask for: beyond it a test hangs.
constexpr int kMaxFaultMs = 600000;

bool ParseInt(std::string_view text, int min, int max, int* out) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size() || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text, std::string* error) {
  const size_t eq = text.find('=');
  const std::string_view name = text.substr(0, eq);
  const std::string_view arg =
      eq == std::string_view::npos ? std::string_view() : text.substr(eq + 1);
  const bool has_arg = eq != std::string_view::npos;
  Fault f;
  auto need_arg = [&](Fault::Kind kind, int min, int max) -> std::optional<Fault> {
    f.kind = kind;
    if (!has_arg || !ParseInt(arg, min, max, &f.value)) {
      if (error)
        *error = "fault '" + std::string(name) + "' needs a number from " + std::to_string(min) +
                 " to " + std::to_string(max);
      return std::nullopt;
    }
    return f;
  };
  auto no_arg = [&](Fault::Kind kind) -> std::optional<Fault> {
    f.kind = kind;
    if (has_arg) {
      if (error) *error = "fault '" + std::string(name) + "' takes no value";
      return std::nullopt;
    }
    return f;
  };
  if (name == "stop-media") return no_arg(Fault::Kind::kStopMedia);
  if (name == "drop") return need_arg(Fault::Kind::kDropEveryNth, 2, 1000000);
  if (name == "reorder") return no_arg(Fault::Kind::kReorder);
  if (name == "restart") return need_arg(Fault::Kind::kRestart, 0, kMaxFaultMs);
  if (name == "unauthorized") return no_arg(Fault::Kind::kAlwaysUnauthorized);
  if (name == "status") return need_arg(Fault::Kind::kHttpStatus, 100, 599);
  if (name == "slow") return need_arg(Fault::Kind::kSlowReplies, 1, kMaxFaultMs);
  if (name == "garble") return no_arg(Fault::Kind::kGarbledReplies);
  if (name == "alt-source") return no_arg(Fault::Kind::kRtpAltSource);
  if (name == "talkback-end") return need_arg(Fault::Kind::kEndTalkback, 1, 1 << 30);
  if (error) *error = "unknown fault '" + std::string(name) + "'";
  return std::nullopt;
}

void FaultSwitches::Set(const Fault& f) {
  switch (f.kind) {
    case Fault::Kind::kStopMedia:
      stop_media_ = true;
      break;
    case Fault::Kind::kDropEveryNth:
      drop_every_ = f.value;
      break;
    case Fault::Kind::kReorder:
      reorder_ = true;
      break;
    case Fault::Kind::kRestart:
      break;
    case Fault::Kind::kAlwaysUnauthorized:
      unauthorized_ = true;
      break;
    case Fault::Kind::kHttpStatus:
      status_ = f.value;
      break;
    case Fault::Kind::kSlowReplies:
      slow_ms_ = f.value;
      break;
    case Fault::Kind::kGarbledReplies:
      garble_ = true;
      break;
    case Fault::Kind::kRtpAltSource:
      alt_source_ = true;
      break;
    case Fault::Kind::kEndTalkback:
      end_talkback_ = f.value;
      break;
  }
}

void FaultSwitches::Clear(Fault::Kind kind) {
  switch (kind) {
    case Fault::Kind::kStopMedia:
      stop_media_ = false;
      break;
    case Fault::Kind::kDropEveryNth:
      drop_every_ = 0;
      break;
    case Fault::Kind::kReorder:
      reorder_ = false;
      break;
    case Fault::Kind::kRestart:
      break;
    case Fault::Kind::kAlwaysUnauthorized:
      unauthorized_ = false;
      break;
    case Fault::Kind::kHttpStatus:
      status_ = 0;
      break;
    case Fault::Kind::kSlowReplies:
      slow_ms_ = 0;
      break;
    case Fault::Kind::kGarbledReplies:
      garble_ = false;
      break;
    case Fault::Kind::kRtpAltSource:
      alt_source_ = false;
      break;
    case Fault::Kind::kEndTalkback:
      end_talkback_ = 0;
      break;
  }
}

void FaultSwitches::ClearAll() {
  for (auto kind :
       {Fault::Kind::kStopMedia, Fault::Kind::kDropEveryNth, Fault::Kind::kReorder,
        Fault::Kind::kAlwaysUnauthorized, Fault::Kind::kHttpStatus, Fault::Kind::kSlowReplies,
        Fault::Kind::kGarbledReplies, Fault::Kind::kRtpAltSource, Fault::Kind::kEndTalkback}) {
    Clear(kind);
  }
}

}  // namespace camsim
