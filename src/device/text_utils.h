// Text and encoding helpers shared by the device-control code and the RTSP
// stack: formatting, trimming, marker extraction, key-value lookup, splitting,
// number parsing, hexadecimal decoding, MD5 in hex, Base64, the HTTP Basic
// token, random strings, the frame interval of a rate.
//
// Threading: free functions without state; callable from any thread.
// Parsing functions take views of untrusted text and never read outside them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "util/str_format.h"

namespace korvela {

// Copy with A-Z folded to a-z, whatever the process locale.
std::string ToLower(std::string_view text);

// Copy without leading and trailing blanks and tabs.
std::string Trim(std::string_view text);

// Copy without any character of `chars`; an empty set changes nothing.
std::string RemoveChars(std::string_view text, std::string_view chars);

// The text after the first `open` that is directly followed by `open_end`, up
// to the next `close`. Empty when a marker is empty or missing, or when nothing
// stands between the markers. With ("<xmp", ">", "</xmp>") this is the content
// of the first plain <xmp> element: "<xmp class=x>" does not match.
std::string ExtractBetween(std::string_view text, std::string_view open, std::string_view open_end,
                           std::string_view close);
// The same as a view into `text`.
std::string_view ExtractBetweenView(std::string_view text, std::string_view open,
                                    std::string_view open_end, std::string_view close);

// Looks up `key` in text made of items separated by any character of
// `delimiters`, each item "name <separator> value"; the name is compared after
// Trim, so a key that is only the tail of a longer name does not match. Empty
// when not found, when the value is empty, or when an argument is empty.
// Linear in the text: each item is looked at once.
std::string GetValue(std::string_view text, std::string_view key, std::string_view separator,
                     std::string_view delimiters);

// Pieces between `delimiter`s as a line reader gives them: empty pieces between
// two delimiters count, a trailing delimiter adds no piece, "" gives no piece.
std::vector<std::string> Split(std::string_view text, char delimiter);

// Decimal integer with an optional leading '+' or '-', nothing else. `value`
// is set to 0 first and stays 0 on failure; values outside the signed 32-bit
// range fail rather than wrap.
bool ParseInt(std::string_view text, int32_t& value);

// Decimal digits only (no sign, no blanks), within the unsigned 32-bit range:
// a number a device sends. `value` is 0 on failure.
bool ParseUint32(std::string_view text, uint32_t& value);

// "<width>x<height>", both ParseUint32 numbers, nothing else around them.
bool ParseSizeText(std::string_view text, uint32_t& width, uint32_t& height);

// Longest device text kept (name, model, firmware, MAC address, port): far
// above any real value, small enough that a hostile device cannot fill the
// recorder's memory or its log with one.
inline constexpr size_t kMaxDeviceTextBytes = 256;

// A device text fit to be stored, reported and logged: each control
// character (C0 and DEL, so CR, LF and ESC) becomes '?', and the text is cut
// to kMaxDeviceTextBytes, not inside a UTF-8 sequence.
std::string CleanDeviceText(std::string_view text);

// Two characters per byte, case-insensitive; a character that is not a
// hexadecimal digit counts as 0; a single last character gives one byte with
// its own digit value ("0aF" -> 0x0a 0x0f).
std::vector<uint8_t> HexToBytes(std::string_view text);

// MD5 (RFC 1321) of the bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(std::string_view text);

// Bytes of output Base64Encode needs for `length` input bytes: the encoded
// length, two more for every full 76-character line, and two spare. 0 when the
// size is not representable.
size_t Base64EncodeCapacity(size_t length);

// RFC 4648 Base64 with '=' padding, broken into lines as in RFC 2045: CR LF
// after every 76 output characters, none after the last line. Fails without
// writing when the input or the output is missing (null) or when `output` is
// smaller than Base64EncodeCapacity(input.size()); on success `written` is the
// number of characters written (no terminating zero).
bool Base64Encode(std::span<const uint8_t> input, std::span<char> output, size_t& written);

// The HTTP Basic credentials token: the Base64 of "user:password" on one line,
// whatever its length (a line break inside it would end the header line).
std::string MakeBasicToken(std::string_view user, std::string_view password);

// `length` characters drawn uniformly from [a-zA-Z0-9] by the cryptographic
// random source; used for secrets such as the talk-back password.
std::string RandomString(size_t length);

// Frame interval in milliseconds for `rate` frames per second: 1000 / rate
// rounded half up, and 1 for a rate of 0.
uint32_t IntervalFromRate(uint32_t rate);

}  // namespace korvela
