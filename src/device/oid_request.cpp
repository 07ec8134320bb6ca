#include "device/oid_request.h"

#include <array>

#include "device/oid_reply.h"
#include "device/text_utils.h"

namespace korvela::HUtils {
namespace {

constexpr const char* kRequestGetOrigin = "korvela::HUtils::RequestGetRD";
constexpr const char* kGetOidOrigin = "korvela::HUtils::GetOidRD";

// OIDs whose written value is a secret: the talk-back password.
constexpr std::array<std::string_view, 1> kSecretOids = {"1.9.10"};
constexpr std::array<std::string_view, 2> kWritePrefixes = {"OidTR", "OidTB"};

bool IsSecretItemName(std::string_view name) {
  for (std::string_view prefix : kWritePrefixes) {
    if (name.starts_with(prefix)) {
      name.remove_prefix(prefix.size());
      break;
    }
  }
  for (std::string_view oid : kSecretOids) {
    if (name == oid) return true;
  }
  return false;
}

bool IsSuccessStatus(uint32_t status) { return status / 100 == 2 || status / 100 == 3; }

Web::CResultDef MakeResult(uint32_t level, uint32_t code, std::string message = {},
                           platform::NetError cause = platform::NetError::kNone) {
  return Web::CResultDef(level, code, std::move(message), cause);
}

std::string QuotableErrorText(const std::string& text) {
  static_assert(kMaxQuotedErrorChars == kMaxDeviceTextBytes);
  std::string quoted = CleanDeviceText(text);
  if (text.size() > kMaxQuotedErrorChars) quoted += "...";
  return quoted;
}

// Reads the open request's body, at most kMaxOidReplyBytes of it; false and
// `body` emptied when there is more.
bool ReadReply(Web::CHttpSender& sender, std::vector<uint8_t>& body) {
  sender.ReadAll(body, kMaxOidReplyBytes + 1);
  if (body.size() <= kMaxOidReplyBytes) return true;
  body.clear();
  body.shrink_to_fit();
  return false;
}

// " (timed out)" after a log line whose exchange failed; nothing otherwise.
std::string CauseSuffix(platform::NetError cause) {
  if (cause == platform::NetError::kNone) return {};
  return StrFormat(" (%s)", platform::NetErrorText(cause));
}

std::string DeviceWithPort(const Web::CHttpSender& sender) {
  return StrFormat("%s:%u", sender.GetAddress().c_str(), static_cast<unsigned>(sender.GetPort()));
}

}  // namespace

std::string RedactPath(std::string_view path) {
  const size_t query = path.find('?');
  if (query == std::string_view::npos) return std::string(path);
  std::string out(path.substr(0, query + 1));
  size_t start = query + 1;
  while (start <= path.size()) {
    size_t end = path.find('&', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view item = path.substr(start, end - start);
    const size_t eq = item.find('=');
    if (eq != std::string_view::npos && IsSecretItemName(item.substr(0, eq))) {
      out.append(item.substr(0, eq + 1)).append("***");
    } else {
      out.append(item);
    }
    if (end == path.size()) break;
    out += '&';
    start = end + 1;
  }
  return out;
}

Web::CResultDef RequestGetRD(const std::string& path, std::vector<uint8_t>& body,
                             Web::CHttpSender& sender, bool read) {
  Web::CResultDef result = MakeResult(kLogState, kCodeOk);
  const std::string device = DeviceWithPort(sender);
  const Web::HttpRequest request("GET", path);
  body.clear();

  const Web::SendResult sent = sender.SendRequest(request);
  const uint32_t status = sender.GetStatusCode();
  if (!sent || status == 0) {
    const platform::NetError cause = sent ? platform::NetError::kMalformed : sent.cause;
    result =
        MakeResult(kLogNever, kCodeNotSent,
                   StrFormat("%s: can not send request \"%s\" to %s%s", kRequestGetOrigin,
                             RedactPath(path).c_str(), device.c_str(), CauseSuffix(cause).c_str()),
                   cause);
  } else if (!IsSuccessStatus(status)) {
    result = MakeResult(kLogFailure, kCodeBadStatus,
                        StrFormat("%s: %s sent does not process request \"%s\", status code = %d",
                                  kRequestGetOrigin, device.c_str(), RedactPath(path).c_str(),
                                  static_cast<int>(status)));
    if (status == 401) result.cause = platform::NetError::kAuthRefused;
  }
  if (read && result.code == kCodeOk) {
    if (!ReadReply(sender, body)) {
      result =
          MakeResult(kLogFailure, kCodeBadResponse,
                     StrFormat("%s: response to request \"%s\" from %s is longer than %u bytes",
                               kRequestGetOrigin, RedactPath(path).c_str(), device.c_str(),
                               static_cast<unsigned>(kMaxOidReplyBytes)),
                     platform::NetError::kOverLimit);
    } else if (body.empty()) {
      const platform::NetError cause = sender.last_error();
      result = MakeResult(
          kLogFailure, kCodeBadResponse,
          StrFormat("%s: incorrect response for request \"%s\" from %s%s", kRequestGetOrigin,
                    RedactPath(path).c_str(), device.c_str(), CauseSuffix(cause).c_str()),
          cause);
    }
    body.push_back(0);
  }
  sender.CloseRequest();
  return result;
}

Web::CResultDef GetOidRD(Web::CHttpSender& sender, const std::string& oids, std::string& value) {
  value.clear();
  if (oids.empty()) return MakeResult(kLogNever, kCodeEmptyOidList);

  const std::string path = StrFormat("/get.oid?%s", oids.c_str());
  std::vector<uint8_t> body;
  Web::CResultDef result = RequestGetRD(path, body, sender, true);
  if (result.code != kCodeOk) return result;

  OidReply reply = ParseOidReply(std::span<const uint8_t>(body), IsMultiOidList(oids));
  if (!reply.error.empty()) {
    return MakeResult(kLogFailure, kCodeDeviceError,
                      StrFormat("%s: device %s returns error message \"%s\" for request \"%s\"",
                                kGetOidOrigin, sender.GetAddress().c_str(),
                                QuotableErrorText(reply.error).c_str(), path.c_str()));
  }
  value = std::move(reply.value);
  return result;
}

std::string GetOid(Web::CHttpSender& sender, const std::string& oids) {
  std::string value;
  if (GetOidRD(sender, oids, value).code != kCodeOk) return {};
  return value;
}

bool RequestOk(const std::string& path, Web::CHttpSender& sender) {
  std::vector<uint8_t> body;
  return RequestGetRD(path, body, sender, true).code == kCodeOk;
}

bool RequestGetBody(const std::string& path, std::vector<uint8_t>& body, Web::CHttpSender& sender) {
  return RequestGetRD(path, body, sender, true).code == kCodeOk;
}

Web::CResultDef RequestStatus(const std::string& path, Web::CHttpSender& sender) {
  std::vector<uint8_t> unused;
  return RequestGetRD(path, unused, sender, false);
}

bool RequestGet(const std::string& path, std::vector<uint8_t>& body, Web::CHttpSender& sender) {
  body.clear();
  const Web::HttpRequest request("GET", path);
  bool ok = static_cast<bool>(sender.SendRequest(request)) &&
            IsSuccessStatus(sender.GetStatusCode()) && ReadReply(sender, body) && !body.empty();
  sender.CloseRequest();
  if (ok) body.push_back(0);
  return ok;
}

Web::SendResult SendGet(const std::string& path, Web::CHttpSender& sender) {
  return sender.SendRequest(Web::HttpRequest("GET", path));
}

}  // namespace korvela::HUtils
