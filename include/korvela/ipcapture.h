// The contract between the recorder and libveltrano.so.
//
// Every interface that crosses the boundary is an abstract class with its
// virtual destructor in slot 0 and its operations in the slot order given by
// the comments ("// N"). On this ABI (the Itanium C++ ABI of GCC and clang) a
// virtual destructor takes two vtable entries, the complete-object and the
// deleting destructor, so slot N >= 1 is vtable entry N + 1: a recorder
// compiled against these declarations with such a compiler gets the same
// layout; one that builds its vtables by hand must count that way.
//
// Interfaces of the driver (IIPCaptureDriver..., IIPVideoCapture,
// IIPAudioCapture2, IIPAudioSender, ICaptureIOApi, IIPCapabilityQuery) are
// implemented by the library; the others are the recorder's objects, of which
// the driver calls only the named slots. ReservedN() on a recorder object
// keeps the slots after it at their numbers and is never called by the
// driver. Objects are owned by their creator: the driver never deletes a
// recorder object, and the recorder deletes a driver only through a
// Delete... export.
//
// The numbers the two sides exchange have names here: camera parameters and
// capability numbers (capability_query.h), channel, audio and digital I/O
// states (below), log levels (debug_message.h). A recorder can be written
// against this header alone: it includes every sibling it needs.
#pragma once

#include <cstdint>

#include "korvela/capability_query.h"
#include "korvela/debug_message.h"
#include "korvela/export.h"
#include "korvela/frames.h"

namespace korvela::ipcapture {

// ---------------------------------------------------------------------------
// Device setup (recorder objects, third argument of Open)

// Stream types of the connection.
enum StreamType : uint32_t {
  kStreamMjpegHttp = 1,  // Motion-JPEG over HTTP
  kStreamH264Rtsp = 3,   // H.264 over RTSP
};

class IDeviceDescription {
 public:
  virtual ~IDeviceDescription() = default;       // 0
  virtual void Reserved1() {}                    // 1
  virtual const char* GetModel() = 0;            // 2
  virtual uint32_t GetChannelCount() = 0;        // 3: video inputs
  virtual void Reserved4() {}                    // 4
  virtual uint32_t GetDigitalInputCount() = 0;   // 5
  virtual uint32_t GetDigitalOutputCount() = 0;  // 6
};

class IConnectionSettings {
 public:
  virtual ~IConnectionSettings() = default;  // 0
  virtual const char* GetAddress() = 0;      // 1
  virtual uint16_t GetPort() = 0;            // 2
  virtual void Reserved3() {}                // 3
  virtual uint32_t GetStreamType() = 0;      // 4
  virtual const char* GetUserName() = 0;     // 5
  virtual const char* GetPassword() = 0;     // 6
};

class IDeviceSetup {
 public:
  virtual ~IDeviceSetup() = default;                 // 0
  virtual IDeviceDescription* GetDescription() = 0;  // 1
  virtual IConnectionSettings* GetConnection() = 0;  // 2
  virtual void Reserved3() {}                        // 3
  // Camera parameter text by index (from 1, see CameraParameter); null after
  // the last one.
  virtual const char* GetParameter(uint32_t index) = 0;  // 4
};

// ---------------------------------------------------------------------------
// Video parameters (recorder objects handed to StartChannel/ChangeChannel).
// Each value is used only in its low 16 bits.

class IPictureSize {
 public:
  virtual ~IPictureSize() = default;  // 0
  virtual uint32_t GetWidth() = 0;    // 1
  virtual uint32_t GetHeight() = 0;   // 2
};

class IVideoFormat {
 public:
  virtual ~IVideoFormat() = default;    // 0
  virtual void Reserved1() {}           // 1
  virtual void Reserved2() {}           // 2
  virtual IPictureSize* GetSize() = 0;  // 3
};

class IVideoRate {
 public:
  virtual ~IVideoRate() = default;      // 0
  virtual uint32_t GetFrameRate() = 0;  // 1: frames per second
  virtual void Reserved2() {}           // 2
  virtual uint32_t GetQuality() = 0;    // 3: per cent
};

// One privacy zone as the recorder gives it. Edges are percentages (0..100)
// of the picture width (left, right) or height (top, bottom).
class IPrivacyZone {
 public:
  virtual ~IPrivacyZone() = default;     // 0
  virtual uint32_t GetAttribute1() = 0;  // 1: stored and compared, not sent
  virtual uint32_t GetAttribute2() = 0;  // 2: stored and compared, not sent
  virtual uint32_t IsEnabled() = 0;      // 3: not 0 = written to the camera
  virtual float GetLeft() = 0;           // 4
  virtual float GetTop() = 0;            // 5
  virtual float GetRight() = 0;          // 6
  virtual float GetBottom() = 0;         // 7
};

class IPrivacyZoneCollection {
 public:
  virtual ~IPrivacyZoneCollection() = default;  // 0
  // Zone at index (from 0), or null after the last one.
  virtual IPrivacyZone* GetZone(uint32_t index) = 0;  // 1
};

// The video parameters are also the privacy-zone list (slot 5).
class IVideoParams {
 public:
  virtual ~IVideoParams() = default;                      // 0
  virtual IVideoFormat* GetFormat() = 0;                  // 1
  virtual IVideoRate* GetRate() = 0;                      // 2
  virtual void Reserved3() {}                             // 3
  virtual void Reserved4() {}                             // 4
  virtual IPrivacyZoneCollection* GetPrivacyZones() = 0;  // 5
};
using IPrivacyZoneList = IVideoParams;

// The recorder's frame receiver for one video input. Called from driver
// threads.
class IFrameReceiver {
 public:
  virtual ~IFrameReceiver() = default;           // 0
  virtual bool OnFrame(IVideoFrame* frame) = 0;  // 1: true = accepted
  virtual void Reserved2() {}                    // 2
  virtual void OnSignalLost() = 0;               // 3
};

// Status of a video channel. GetChannelState reports a stopped channel as
// kChannelSignalLost: the recorder sees only 0 and 2.
enum ChannelStatus : uint32_t {
  kChannelReceiving = 0,   // connected, frames arrive
  kChannelSignalLost = 2,  // no frame for longer than the limit; reconnecting
  kChannelStopped = 3,     // stopped, or (RTSP) connecting
};

// The video capture object (driver object, from GetVideoCapture).
class IIPVideoCapture {
 public:
  virtual ~IIPVideoCapture() = default;    // 0
  virtual uint32_t GetChannelCount() = 0;  // 1
  virtual bool StartChannel(uint32_t input, IFrameReceiver* receiver,
                            IVideoParams* params) = 0;                               // 2
  virtual bool StopChannel(uint32_t input) = 0;                                      // 3
  virtual bool ChangeChannel(uint32_t input, IPictureSize* size, uint32_t fps) = 0;  // 4
  virtual uint32_t Reserved5() = 0;                                                  // 5: → 0
  virtual bool GetChannelState(uint32_t input, uint32_t* status, uint32_t* error_code, char* text,
                               uint32_t text_size) = 0;      // 6
  virtual bool Reserved7(uint32_t a, void* b, void* c) = 0;  // 7: → false
  virtual bool Reserved8(uint32_t a, void* b, void* c) = 0;  // 8: → false
};

// ---------------------------------------------------------------------------
// Audio (recorder objects handed to OpenChannel, and the driver's objects)

// States of an audio input channel (OnStateChanged, GetChannelState). Every
// change is reported at once.
enum AudioInputState : uint32_t {
  kAudioInputStopped = 0,  // also: the key is not open
  kAudioInputConnecting = 1,
  kAudioInputRunning = 2,  // session up, frames delivered
  kAudioInputStopping = 3,
  kAudioInputError = 4,
  kAudioInputLost = 5,  // no audio for longer than the limit; reconnecting
};

// Audio input: the recorder's callback for frames and state reports.
class IAudioCallback {
 public:
  virtual ~IAudioCallback() = default;                              // 0
  virtual bool OnAudioFrame(IAudioFrame* frame) = 0;                // 1: result not used
  virtual void OnStateChanged(uint32_t input, uint32_t state) = 0;  // 2
};

// Audio input: one format the recorder accepts.
class IAudioFormatEntry {
 public:
  virtual ~IAudioFormatEntry() = default;  // 0
  virtual void Reserved1() {}              // 1
  virtual uint32_t GetFormatCode() = 0;    // 2: four-character code
  virtual void Reserved3() {}              // 3
  virtual bool IsEnabled() = 0;            // 4
};

class IAudioFormatList {
 public:
  virtual ~IAudioFormatList() = default;                    // 0
  virtual uint32_t GetCount() = 0;                          // 1
  virtual IAudioFormatEntry* GetEntry(uint32_t index) = 0;  // 2: may be null
};

// States of a talk-back channel (OnStateChanged, GetChannelState). Every
// change is reported at once.
enum AudioOutputState : uint32_t {
  kAudioOutputStopped = 0,  // also: the key is not open
  kAudioOutputStarting = 1,
  kAudioOutputSending = 2,  // the device accepts audio
  kAudioOutputStopping = 3,
  kAudioOutputNoFormat = 4,     // the recorder offers no format the device takes
  kAudioOutputUnreachable = 5,  // preparing the device or sending to it failed
};

// Talk-back: the recorder's callback for state reports.
class IAudioSenderCallback {
 public:
  virtual ~IAudioSenderCallback() = default;                      // 0
  virtual void OnStateChanged(uint32_t key, uint32_t state) = 0;  // 1
};

// Talk-back: one format the recorder offers (enabled flag in slot 5).
class IAudioOutputFormatEntry {
 public:
  virtual ~IAudioOutputFormatEntry() = default;  // 0
  virtual void Reserved1() {}                    // 1
  virtual uint32_t GetFormatCode() = 0;          // 2: four-character code
  virtual void Reserved3() {}                    // 3
  virtual void Reserved4() {}                    // 4
  virtual bool IsEnabled() = 0;                  // 5
};

class IAudioOutputFormatList {
 public:
  virtual ~IAudioOutputFormatList() = default;                    // 0
  virtual uint32_t GetCount() = 0;                                // 1
  virtual IAudioOutputFormatEntry* GetEntry(uint32_t index) = 0;  // 2: may be null
};

// Talk-back: the format object the driver fills in GetAudioFormat.
class IAudioFormat {
 public:
  virtual ~IAudioFormat() = default;                      // 0
  virtual void SetFormatCode(uint32_t code) = 0;          // 1
  virtual void SetSampleRate(uint32_t hertz) = 0;         // 2
  virtual void SetBitRate(uint32_t bits_per_second) = 0;  // 3
  virtual void Reserved4() {}                             // 4
  virtual void SetStereo(uint32_t stereo) = 0;            // 5
};

// The audio input object (driver object, from GetAudioCapture2). Channels are
// keyed by a number the recorder chooses.
class IIPAudioCapture2 {
 public:
  virtual ~IIPAudioCapture2() = default;   // 0
  virtual uint32_t GetChannelCount() = 0;  // 1: open channels
  virtual bool OpenChannel(uint32_t key, uint32_t input, IAudioCallback* callback,
                           IAudioFormatList* formats) = 0;                           // 2
  virtual bool CloseChannel(uint32_t key) = 0;                                       // 3
  virtual uint32_t GetChannelState(uint32_t key, void* unused1, void* unused2) = 0;  // 4
  virtual bool Reserved5(uint32_t a, void* b, void* c) = 0;                          // 5: → false
  virtual bool Reserved6(uint32_t a, void* b, void* c) = 0;                          // 6: → false
};

// The audio output object (driver object, from GetAudioSender).
class IIPAudioSender {
 public:
  virtual ~IIPAudioSender() = default;     // 0
  virtual uint32_t GetChannelCount() = 0;  // 1: open channels
  virtual bool OpenChannel(uint32_t key, uint32_t value, IAudioSenderCallback* callback,
                           IAudioOutputFormatList* formats) = 0;  // 2
  virtual bool CloseChannel(uint32_t key) = 0;                    // 3
  // The frame names its channel by GetChannel(); a frame the channel queued
  // belongs to the driver from then on and is released through the allocator.
  virtual bool SendAudioFrame(IAudioFrame* frame) = 0;                               // 4
  virtual bool GetAudioFormat(uint32_t key, IAudioFormat* format) = 0;               // 5
  virtual uint32_t GetChannelState(uint32_t key, void* unused1, void* unused2) = 0;  // 6
  virtual bool Reserved7(uint32_t a, void* b, void* c) = 0;                          // 7: → false
  virtual bool Reserved8(uint32_t a, void* b, void* c) = 0;                          // 8: → false
};

// ---------------------------------------------------------------------------
// Digital inputs and outputs

// State of a digital input (OnInputChanged).
enum DigitalInputState : uint32_t {
  kInputUndetermined = 0,  // not read yet, or the device stopped answering
  kInputOpen = 1,
  kInputClosed = 2,
};

// State asked of a digital output (SetOutput): kOutputOpen, anything else
// closes it.
enum DigitalOutputState : uint32_t {
  kOutputClosed = 0,
  kOutputOpen = 1,
};

class ICaptureIOCallback {
 public:
  virtual ~ICaptureIOCallback() = default;                          // 0
  virtual void OnInputChanged(uint32_t input, uint32_t state) = 0;  // 1
  virtual void OnDeviceError() = 0;                                 // 2
};

// The digital I/O object (driver object, from GetIO).
class ICaptureIOApi {
 public:
  virtual ~ICaptureIOApi() = default;                           // 0
  virtual bool SetCallback(ICaptureIOCallback* callback) = 0;   // 1: false for null
  virtual bool Start() = 0;                                     // 2
  virtual bool Stop() = 0;                                      // 3
  virtual uint32_t GetInputCount() = 0;                         // 4
  virtual uint32_t GetOutputCount() = 0;                        // 5
  virtual bool SetOutput(uint32_t output, uint32_t state) = 0;  // 6: only queues
};

// ---------------------------------------------------------------------------
// Privacy zones (driver object; the video capture object and the channels
// call it).
class IPrivacyZones {
 public:
  virtual ~IPrivacyZones() = default;                 // 0
  virtual void SetZones(IPrivacyZoneList* list) = 0;  // 1: copies at most 32 zones
  virtual bool Apply() = 0;                           // 2: writes changed zones
};

// ---------------------------------------------------------------------------
// The driver object: one single-inheritance chain, so one pointer is all five
// levels at once.

class IIPAudioCapture;  // legacy audio object; this driver never creates one

class IIPCaptureDriver {
 public:
  virtual ~IIPCaptureDriver() = default;  // 0
  virtual bool Open(IDebugInfoSink* sink, IFrameAllocator* allocator,
                    IDeviceSetup* setup) = 0;      // 1
  virtual void Close() = 0;                        // 2
  virtual IIPVideoCapture* GetVideoCapture() = 0;  // 3
  virtual ICaptureIOApi* GetIO() = 0;              // 4
};

class IIPCaptureDriverEx : public IIPCaptureDriver {
 public:
  virtual void* Reserved5() = 0;                   // 5: → null
  virtual IIPAudioCapture* GetAudioCapture() = 0;  // 6: → null
};

class IIPCaptureDriverEx2 : public IIPCaptureDriverEx {
 public:
  virtual void* Reserved7() = 0;  // 7: → null
  virtual void* Reserved8() = 0;  // 8: → null
};

class IIPCaptureDriverEx3 : public IIPCaptureDriverEx2 {
 public:
  virtual IIPAudioCapture* GetAudioCaptureEx() = 0;  // 9: → null
};

class IIPCaptureDriverEx4 : public IIPCaptureDriverEx3 {
 public:
  virtual IIPAudioCapture2* GetAudioCapture2() = 0;  // 10
  virtual IIPAudioSender* GetAudioSender() = 0;      // 11
};

}  // namespace korvela::ipcapture

// ---------------------------------------------------------------------------
// The sixteen exported functions (C linkage, undecorated names).
extern "C" {

// Each create function returns a new, closed driver (null when allocation
// fails); all create the same object. Each delete function accepts null and
// destroys any driver, whichever create function made it.
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriver* CreateIPCapture(void);
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx* CreateIPCaptureEx(void);
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx2* CreateIPCaptureEx2(void);
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx3* CreateIPCaptureEx3(void);
KORVELA_EXPORT korvela::ipcapture::IIPCaptureDriverEx4* CreateIPCaptureEx4(void);
KORVELA_EXPORT void DeleteIPCapture(korvela::ipcapture::IIPCaptureDriver* driver);
KORVELA_EXPORT void DeleteIPCaptureEx(korvela::ipcapture::IIPCaptureDriverEx* driver);
KORVELA_EXPORT void DeleteIPCaptureEx2(korvela::ipcapture::IIPCaptureDriverEx2* driver);
KORVELA_EXPORT void DeleteIPCaptureEx3(korvela::ipcapture::IIPCaptureDriverEx3* driver);
KORVELA_EXPORT void DeleteIPCaptureEx4(korvela::ipcapture::IIPCaptureDriverEx4* driver);

// Capability query: a module the recorder creates and deletes itself...
KORVELA_EXPORT korvela::ipcapture::IIPCapabilityQuery* CreateCapabilityQueryModule(
    korvela::ipcapture::ICapabilityQueryCallback* callback, bool video_standard);
KORVELA_EXPORT void DeleteCapabilityQueryModule(korvela::ipcapture::IIPCapabilityQuery* module);
// ...or one process-wide module. Results are 1 (done) or 0 (refused).
KORVELA_EXPORT int32_t InitCapabilityQuery(korvela::ipcapture::ICapabilityQueryCallback* callback,
                                           bool video_standard);
KORVELA_EXPORT int32_t StartCapabilityQuery(const char* address, uint16_t port, const char* user,
                                            const char* password,
                                            korvela::ipcapture::ICapabilityResultSink* sink);
KORVELA_EXPORT int32_t TerminateCapabilityQuery(void);
KORVELA_EXPORT int32_t UninitCapabilityQuery(void);

}  // extern "C"

// Exported by the recorder, not by the library: the recorder core's version.
// Linux has no version resources, so a host publishes it by exporting this
// function from its executable (link with -rdynamic, CMake ENABLE_EXPORTS) or
// from a library loaded with RTLD_GLOBAL; it fills {major, minor, build,
// revision}. The driver looks it up with dlsym(RTLD_DEFAULT, ...) at Open and
// adapts its log levels to the version. Without it the version counts as
// unreadable (taken as 5.12), and "DRIVER IS OPENED" then reaches the sink at
// level 3 instead of 100.
extern "C" {
KORVELA_EXPORT void korvela_recorder_core_version(uint16_t out[4]);
}

// Function-pointer types of the exports, for a recorder that loads the
// library at run time.
namespace korvela::ipcapture {
using CreateIPCaptureFn = IIPCaptureDriver* (*)();
using CreateIPCaptureExFn = IIPCaptureDriverEx* (*)();
using CreateIPCaptureEx2Fn = IIPCaptureDriverEx2* (*)();
using CreateIPCaptureEx3Fn = IIPCaptureDriverEx3* (*)();
using CreateIPCaptureEx4Fn = IIPCaptureDriverEx4* (*)();
using DeleteIPCaptureFn = void (*)(IIPCaptureDriver*);
using DeleteIPCaptureExFn = void (*)(IIPCaptureDriverEx*);
using DeleteIPCaptureEx2Fn = void (*)(IIPCaptureDriverEx2*);
using DeleteIPCaptureEx3Fn = void (*)(IIPCaptureDriverEx3*);
using DeleteIPCaptureEx4Fn = void (*)(IIPCaptureDriverEx4*);
using CreateCapabilityQueryModuleFn = IIPCapabilityQuery* (*)(ICapabilityQueryCallback*, bool);
using DeleteCapabilityQueryModuleFn = void (*)(IIPCapabilityQuery*);
using InitCapabilityQueryFn = int32_t (*)(ICapabilityQueryCallback*, bool);
using StartCapabilityQueryFn = int32_t (*)(const char*, uint16_t, const char*, const char*,
                                           ICapabilityResultSink*);
using TerminateCapabilityQueryFn = int32_t (*)();
using UninitCapabilityQueryFn = int32_t (*)();

// The host's version function, as the driver finds it.
inline constexpr char kRecorderCoreVersionSymbol[] = "korvela_recorder_core_version";
using RecorderCoreVersionFn = void (*)(uint16_t out[4]);
}  // namespace korvela::ipcapture
