// FakeDriver: an IDriver for unit tests of channels, parsers and device
// objects. Every value the real driver fixes at Open is a public field the
// test sets; log lines are recorded (see base/testing/recording_log.h).
//
// Threading: set the fields before the object under test starts threads;
// afterwards they are only read. Message may be called from any thread (the
// log is locked); the video-channel factory and its call count are guarded by
// mutex_.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "base/testing/recording_log.h"
#include "core/camera_parameters.h"
#include "core/idriver.h"
#include "util/str_format.h"

namespace korvela::testing {

class FakeDriver : public IDriver {
 public:
  using VideoChannelFactory =
      std::function<ICameraChannel*(uint32_t input, ipcapture::IFrameReceiver* receiver)>;

  FakeDriver() {
    device.address = "127.0.0.1";
    device.port = 80;
  }

  // --- settable state ---
  DEVICE_INFO device;
  uint32_t input_count = 0;
  uint32_t output_count = 0;
  ipcapture::IFrameAllocator* allocator = nullptr;
  uint32_t channel_parameter = 0;
  uint32_t stream_type = ipcapture::kStreamMjpegHttp;
  uint32_t channel_count = 1;
  ipcapture::IPrivacyZones* privacy_zones = nullptr;
  std::map<uint32_t, std::string> parameters;  // raw texts, as the recorder gave them
  RecordingLog log;

  void SetParameter(uint32_t index, std::string text) { parameters[index] = std::move(text); }

  void SetVideoChannelFactory(VideoChannelFactory factory) {
    std::lock_guard<std::mutex> lock(mutex_);
    factory_ = std::move(factory);
  }
  int video_channels_created() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return created_;
  }

  // --- IDriver ---
  void Message(uint32_t level, const char* format, ...) override KORVELA_PRINTF_FORMAT(3, 4) {
    va_list args;
    va_start(args, format);
    const std::string text = testing::FormatV(format, args);
    va_end(args);
    log.Message(level, "%s", text.c_str());
  }

  std::string GetName() override { return kDriverName; }
  const DEVICE_INFO* GetDeviceInfo() override { return &device; }
  std::pair<uint32_t, uint32_t> GetIOCount() override { return {input_count, output_count}; }
  ipcapture::IFrameAllocator* GetFrameAllocator() override { return allocator; }
  uint32_t GetChannelParameter() override { return channel_parameter; }
  uint32_t GetStreamType() override { return stream_type; }
  uint32_t GetChannelCount() override { return channel_count; }
  ipcapture::IPrivacyZones* GetPrivacyZones() override { return privacy_zones; }

  // Same reading as the driver: "(none)" and missing read as empty.
  std::string GetParameter(uint32_t index) override {
    auto it = parameters.find(index);
    if (it == parameters.end() || it->second == kParameterNone) return {};
    return it->second;
  }

  // Same number rule as the driver.
  int32_t GetParameterInt(uint32_t index) override {
    auto it = parameters.find(index);
    if (it == parameters.end()) return kParameterNotANumber;
    return ParseParameterNumber(it->second).value_or(kParameterNotANumber);
  }

  ICameraChannel* CreateVideoChannel(uint32_t input, ipcapture::IFrameReceiver* receiver) override {
    VideoChannelFactory factory;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++created_;
      factory = factory_;
    }
    return factory ? factory(input, receiver) : nullptr;
  }

 private:
  mutable std::mutex mutex_;
  VideoChannelFactory factory_;  // guarded by mutex_
  int created_ = 0;              // guarded by mutex_
};

}  // namespace korvela::testing
