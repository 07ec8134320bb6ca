// Facts about the process the driver runs in.
//
// Recorder core version: there are no version resources on Linux, so the host
// process publishes its core version by exporting one C function,
//
//   extern "C" void korvela_recorder_core_version(uint16_t out[4]);
//
// which fills {major, minor, build, revision}. The executable must export it
// dynamically (link with -rdynamic / ENABLE_EXPORTS) or a library loaded with
// RTLD_GLOBAL must define it; the driver finds it with
// dlsym(RTLD_DEFAULT, ...). When no such function exists the version counts as
// unreadable.
//
// Threading: all functions are safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace korvela::platform {

constexpr const char* kRecorderCoreVersionSymbol = "korvela_recorder_core_version";
using RecorderCoreVersionFn = void (*)(uint16_t out[4]);

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
