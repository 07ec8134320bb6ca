// Visibility of the functions that libveltrano.so exports to the recorder.
//
// Everything in the library is compiled with hidden visibility; the sixteen
// recorder-facing functions carry KORVELA_EXPORT on their definitions, and the
// linker version script (src/driver/exports.map) keeps the export list exact.
#pragma once

#if defined(__GNUC__)
#define KORVELA_EXPORT __attribute__((visibility("default")))
#else
#define KORVELA_EXPORT
#endif
