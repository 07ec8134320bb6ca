// Facts about the process the driver runs in.
//
// Recorder core version: there are no version resources on Linux, so the host
// process exports korvela_recorder_core_version (declared with the contract
// in korvela/ipcapture.h), found with dlsym(RTLD_DEFAULT, ...). When no such
// function exists the version counts as unreadable.
//
// Threading: all functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "korvela/ipcapture.h"

namespace korvela::platform {

// Full path of the running executable (/proc/self/exe); empty on failure.
std::string ExecutablePath();
// Folder of the executable with its trailing '/'; empty on failure.
std::string ExecutableFolder();

// Reads the recorder core's version into out[4] (major, minor, build,
// revision). False, with out all zero, when the host exports no version
// function.
bool ReadRecorderCoreVersion(uint16_t out[4]);
// The same lookup for any symbol name (the seam the tests use).
bool ReadVersionFromSymbol(const char* symbol, uint16_t out[4]);

// Number of processors online, at least 1.
unsigned ProcessorCount();

}  // namespace korvela::platform
