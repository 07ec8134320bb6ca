// Cryptographic randomness from the kernel (getrandom), for secrets and
// identifiers a peer must not predict (talk-back password, RTCP SSRC).
//
// Threading: all functions are safe to call from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvela::platform {

// Fills `out` completely; false only when the kernel source fails (then the
// content of `out` must not be used).
bool RandomBytes(std::span<uint8_t> out);

// A random 32-bit value. Should the kernel source ever fail, falls back to
// std::random_device, never to a time-seeded generator.
uint32_t RandomU32();

// 16 random bytes laid out as a version-4, RFC 4122 variant GUID.
std::array<uint8_t, 16> RandomGuid();

}  // namespace korvela::platform
