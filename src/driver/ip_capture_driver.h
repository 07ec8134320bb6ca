// CIPCaptureDriver: the driver object the recorder holds for one device, in
// its camera-family-independent part; CQuarnoIPCaptureDriver (the only class
// ever created) adds the IQeye steps.
//
// One object is at once the recorder's IIPCaptureDriver...Ex4 (primary
// base), the audio objects' IAudioChannelCreator and every part's IDriver.
//
// Threading: Open, Close, the getters of the primary interface and
// destruction come from the recorder, one at a time; the driver takes no lock
// of its own. IDriver operations come from any thread (channel workers) and
// only read what Open fixed; Message is safe from any thread (LogDispatcher).
// The owned objects lock their own state.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "korvela/ipcapture.h"

#include "base/log_dispatcher.h"
#include "core/camera_parameters.h"
#include "core/device_info.h"
#include "core/idriver.h"
#include "util/str_format.h"

namespace korvela {

class CIPVideoCapture;
class CIPAudioCapture;
class CIPAudioSender;

// Reads the recorder core's version {major, minor, build, revision}; false
// when it cannot be read. Empty: the host process's exported version.
using RecorderVersionReader = std::function<bool(uint16_t out[4])>;

// Makers of the concrete objects (object_factory.h by default); the seam
// through which tests give the driver fake channels and device objects.
struct DriverObjectFactory {
  DriverObjectFactory();

  std::function<ICameraChannel*(IDriver*, uint32_t, ipcapture::IFrameReceiver*)> mjpeg_channel;
  std::function<ICameraChannel*(IDriver*, uint32_t, ipcapture::IFrameReceiver*)> h264_channel;
  std::function<IAudioInputChannel*(IDriver*, uint32_t, uint32_t, ipcapture::IAudioCallback*,
                                    ipcapture::IAudioFormatList*)>
      audio_input_channel;
  std::function<IAudioOutputChannel*(IDriver*, uint32_t, uint32_t, ipcapture::IAudioSenderCallback*,
                                     ipcapture::IAudioOutputFormatList*)>
      audio_output_channel;
  std::function<ipcapture::ICaptureIOApi*(IDriver*)> digital_io;
  std::function<ipcapture::IPrivacyZones*(IDriver*)> privacy_zones;
};

class CIPCaptureDriver : public ipcapture::IIPCaptureDriverEx4,
                         public IAudioChannelCreator,
                         public IDriver {
 public:
  // More video inputs than any device has: a larger count from the recorder
  // is refused rather than allocated.
  static constexpr uint32_t kMaxVideoInputs = 64;
  // Parameters are read from index 1 until the first null; a setup that
  // never answers null stops here.
  static constexpr uint32_t kMaxCameraParameters = 4096;

  ~CIPCaptureDriver() override;
  CIPCaptureDriver(const CIPCaptureDriver&) = delete;
  CIPCaptureDriver& operator=(const CIPCaptureDriver&) = delete;

  // Slots 12..15 of the primary interface (declared first so that they take
  // those slots).
  virtual bool CreateIO() = 0;                          // 12
  virtual bool CheckDevice() = 0;                       // 13
  virtual void CreatePrivacyZones() = 0;                // 14
  virtual void LogOpened(const std::string& firmware);  // 15

  // IIPCaptureDriver...Ex4
  bool Open(ipcapture::IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
            ipcapture::IDeviceSetup* setup) override;
  void Close() override;
  ipcapture::IIPVideoCapture* GetVideoCapture() override;
  ipcapture::ICaptureIOApi* GetIO() override { return io_.get(); }
  void* Reserved5() override { return nullptr; }
  ipcapture::IIPAudioCapture* GetAudioCapture() override { return nullptr; }
  void* Reserved7() override { return nullptr; }
  void* Reserved8() override { return nullptr; }
  ipcapture::IIPAudioCapture* GetAudioCaptureEx() override { return nullptr; }
  ipcapture::IIPAudioCapture2* GetAudioCapture2() override;
  ipcapture::IIPAudioSender* GetAudioSender() override;

  // IDriver
  void Message(uint32_t level, const char* format, ...) override KORVELA_PRINTF_FORMAT(3, 4);
  std::string GetName() override { return kDriverName; }
  const DEVICE_INFO* GetDeviceInfo() override { return &device_; }
  std::pair<uint32_t, uint32_t> GetIOCount() override { return {input_count_, output_count_}; }
  ipcapture::IFrameAllocator* GetFrameAllocator() override { return allocator_; }
  uint32_t GetChannelParameter() override { return static_cast<uint32_t>(channel_parameter_); }
  uint32_t GetStreamType() override { return stream_type_; }
  uint32_t GetChannelCount() override { return channel_count_; }
  ipcapture::IPrivacyZones* GetPrivacyZones() override { return privacy_zones_.get(); }
  std::string GetParameter(uint32_t index) override { return parameters_.Get(index); }
  int32_t GetParameterInt(uint32_t index) override { return parameters_.GetInt(index); }

  // {major, minor, build, revision} as Open settled it.
  std::array<uint16_t, 4> recorder_version() const { return recorder_version_; }

 protected:
  explicit CIPCaptureDriver(RecorderVersionReader version_reader);

  DEVICE_INFO& device() { return device_; }
  void set_channel_parameter(int32_t value) { channel_parameter_ = value; }
  bool has_io() const { return io_ != nullptr; }
  void set_io(ipcapture::ICaptureIOApi* io) { io_.reset(io); }
  bool has_privacy_zones() const { return privacy_zones_ != nullptr; }
  void set_privacy_zones(ipcapture::IPrivacyZones* zones) { privacy_zones_.reset(zones); }

 private:
  bool ReadSetup(ipcapture::IDeviceSetup* setup);
  void ReadRecorderVersion();
  bool CreateAudioObjects(ipcapture::IDeviceSetup* setup);

  const RecorderVersionReader version_reader_;
  LogDispatcher log_;
  ipcapture::IFrameAllocator* allocator_ = nullptr;
  DEVICE_INFO device_;
  uint32_t input_count_ = 0;
  uint32_t output_count_ = 0;
  uint32_t channel_count_ = 0;
  uint32_t stream_type_ = 0;
  int32_t channel_parameter_ = 0;
  CameraParameters parameters_;
  std::array<uint16_t, 4> recorder_version_{};
  std::unique_ptr<ipcapture::ICaptureIOApi> io_;
  std::unique_ptr<CIPVideoCapture> video_;
  std::unique_ptr<ipcapture::IPrivacyZones> privacy_zones_;
  std::unique_ptr<CIPAudioCapture> audio_capture_;
  std::unique_ptr<CIPAudioSender> audio_sender_;
};

class CQuarnoIPCaptureDriver final : public CIPCaptureDriver {
 public:
  // Both arguments are seams for tests; the exports use the defaults.
  explicit CQuarnoIPCaptureDriver(RecorderVersionReader version_reader = {},
                                  DriverObjectFactory factory = {});

  bool Open(ipcapture::IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
            ipcapture::IDeviceSetup* setup) override;
  bool CreateIO() override;
  bool CheckDevice() override { return true; }
  void CreatePrivacyZones() override;

  ICameraChannel* CreateVideoChannel(uint32_t input, ipcapture::IFrameReceiver* receiver) override;
  IAudioInputChannel* CreateAudioInputChannel(uint32_t key, uint32_t input,
                                              ipcapture::IAudioCallback* callback,
                                              ipcapture::IAudioFormatList* formats) override;
  IAudioOutputChannel* CreateAudioOutputChannel(
      uint32_t key, uint32_t value, ipcapture::IAudioSenderCallback* callback,
      ipcapture::IAudioOutputFormatList* formats) override;

  // Time-outs every channel uses once the driver is open.
  static constexpr uint32_t kConnectTimeoutMs = 5000;
  static constexpr uint32_t kReceiveTimeoutMs = 20000;

 private:
  const DriverObjectFactory factory_;
};

}  // namespace korvela
