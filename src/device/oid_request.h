// The device's OID interface over HTTP: the request functions every part uses
// to read ("/get.oid?...") and write ("/set.oid?...") object identifiers, with
// the result codes, log levels and messages they report.
//
// A failed result's message quotes text the device sent: log it as an
// argument ("%s"), never as the format itself.
//
// Threading: free functions without state of their own, reentrant. They use
// the caller's sender, which no other thread may use at the same time (only
// closing its open request from another thread is allowed, to abort a call).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "korvela/debug_message.h"

#include "device/http_sender.h"

namespace korvela::HUtils {

// Result codes of a device request (CResultDef::code).
inline constexpr uint32_t kCodeOk = 0;
inline constexpr uint32_t kCodeEmptyOidList = 3;
inline constexpr uint32_t kCodeBadStatus = 7;     // status not 2xx or 3xx
inline constexpr uint32_t kCodeNotSent = 10;      // not sent, or no status code
inline constexpr uint32_t kCodeBadResponse = 11;  // body unreadable or empty
inline constexpr uint32_t kCodeDeviceError = 12;  // single-OID read answered with an error

// Largest reply body read by these functions (OID values, write answers,
// probe pages). A real reply is a short HTML page of a few hundred bytes; a
// longer one fails with code 11 after this much has been read, so a device
// cannot make the driver hold more.
inline constexpr uint32_t kMaxOidReplyBytes = 64 * 1024;

// The device's error text quoted in a code-12 message is cut to this many
// characters (then "..." follows), control characters replaced.
inline constexpr size_t kMaxQuotedErrorChars = 256;

// Sends a GET for `path` (HttpRequest defaults: Basic, query unescaped, no
// redirects); with `read` set also reads the whole body into `body` and
// appends one zero byte; a body longer than kMaxOidReplyBytes is dropped and
// fails with code 11. The sender's request is closed before returning.
Web::CResultDef RequestGetRD(const std::string& path, std::vector<uint8_t>& body,
                             Web::CHttpSender& sender, bool read);

// Reads the OIDs of `oids` (one OID, or several joined by "&") and returns
// the unwrapped value: for one OID its value (code 12 when the device reports
// an error), for several the "OID=value" lines without the rejected ones.
// An empty list gives code 3 without any request.
Web::CResultDef GetOidRD(Web::CHttpSender& sender, const std::string& oids, std::string& value);

// GetOidRD's value, or "" whenever its code is not 0.
std::string GetOid(Web::CHttpSender& sender, const std::string& oids);

// True when RequestGetRD with reading returns code 0 (a non-empty reply).
bool RequestOk(const std::string& path, Web::CHttpSender& sender);

// As RequestOk, keeping the body (with its appended zero byte).
bool RequestGetBody(const std::string& path, std::vector<uint8_t>& body, Web::CHttpSender& sender);

// RequestGetRD without reading the body: the write is judged by its status.
Web::CResultDef RequestStatus(const std::string& path, Web::CHttpSender& sender);

// Silent variant: true when the request was sent, the status is 2xx or 3xx and
// a body of 1 to kMaxOidReplyBytes bytes was read; then a zero byte is appended. No
// result record, no message (used for polling).
bool RequestGet(const std::string& path, std::vector<uint8_t>& body, Web::CHttpSender& sender);

// Sends the GET and returns without reading: the request stays open until the
// sender's next request or until the caller closes it (push streams, and
// writes whose answer does not matter).
Web::SendResult SendGet(const std::string& path, Web::CHttpSender& sender);

// `path` with the values of OIDs that carry secrets (the talk-back password,
// 1.9.10) replaced by "***", for log messages.
std::string RedactPath(std::string_view path);

}  // namespace korvela::HUtils
