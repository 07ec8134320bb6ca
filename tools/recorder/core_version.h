// The recorder core's version, published to the driver.
//
// A host that wants the driver to read a core version links the object
// library korvela_recorder_version (and exports its symbols, e.g. CMake
// ENABLE_EXPORTS): it defines korvela_recorder_core_version, the hook
// declared in korvela/ipcapture.h. A host without it has an unreadable
// version. The reported value defaults to kReferenceCoreVersion and can be
// changed at run time.
//
// Threading: the value is an atomic 64-bit word; set and read from any thread.
#pragma once

#include <array>
#include <cstdint>

namespace korvela::recorder {

// A current recorder: the driver passes its "DRIVER IS OPENED" line on at
// level 100.
inline constexpr std::array<uint16_t, 4> kReferenceCoreVersion = {6, 3, 0, 0};

void SetRecorderCoreVersion(const std::array<uint16_t, 4>& version);
std::array<uint16_t, 4> GetRecorderCoreVersion();

}  // namespace korvela::recorder
