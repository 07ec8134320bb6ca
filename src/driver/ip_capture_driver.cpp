#include "driver/ip_capture_driver.h"

#include <cstdarg>
#include <cstdlib>
#include <new>
#include <utility>

#include "korvela/debug_message.h"

#include "device/text_utils.h"
#include "driver/ip_audio_capture.h"
#include "driver/ip_video_capture.h"
#include "driver/object_factory.h"
#include "platform/process.h"

namespace korvela {
namespace {

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

}  // namespace

DriverObjectFactory::DriverObjectFactory()
    : mjpeg_channel(&factory::NewMjpegChannel),
      h264_channel(&factory::NewH264Channel),
      audio_input_channel(&factory::NewAudioCaptureChannel),
      audio_output_channel(&factory::NewAudioOutputChannel),
      digital_io(&factory::NewDigitalIO),
      privacy_zones(&factory::NewPrivacyZones) {}

CIPCaptureDriver::CIPCaptureDriver(RecorderVersionReader version_reader)
    : version_reader_(version_reader ? std::move(version_reader)
                                     : RecorderVersionReader(&platform::ReadRecorderCoreVersion)) {}

CIPCaptureDriver::~CIPCaptureDriver() {
  Close();
  privacy_zones_.reset();
}

void CIPCaptureDriver::Message(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_.MessageV(level, format, args);
  va_end(args);
}

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return video_.get(); }
ipcapture::IIPAudioCapture2* CIPCaptureDriver::GetAudioCapture2() { return audio_capture_.get(); }
ipcapture::IIPAudioSender* CIPCaptureDriver::GetAudioSender() { return audio_sender_.get(); }

bool CIPCaptureDriver::ReadSetup(ipcapture::IDeviceSetup* setup) {
  ipcapture::IConnectionSettings* connection = setup->GetConnection();
  ipcapture::IDeviceDescription* description = setup->GetDescription();
  if (connection == nullptr || description == nullptr) return false;
  stream_type_ = connection->GetStreamType();
  input_count_ = description->GetDigitalInputCount();
  output_count_ = description->GetDigitalOutputCount();
  channel_count_ = description->GetChannelCount();
  device_.address = Text(connection->GetAddress());
  device_.port = connection->GetPort();
  device_.user_name = Text(connection->GetUserName());
  device_.password = Text(connection->GetPassword());
  device_.model = Text(description->GetModel());
  for (uint32_t i = 1; i <= kMaxCameraParameters; ++i) {
    const char* text = setup->GetParameter(i);
    if (text == nullptr) break;
    parameters_.Set(i, text);
  }
  return true;
}

void CIPCaptureDriver::ReadRecorderVersion() {
  uint16_t v[4] = {0, 0, 0, 0};
  if (!version_reader_(v)) v[0] = v[1] = v[2] = v[3] = 0;
  if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0) {
    v[0] = LogDispatcher::kUnreadableVersionMajor;
    v[1] = LogDispatcher::kUnreadableVersionMinor;
  }
  recorder_version_ = {v[0], v[1], v[2], v[3]};
  log_.SetRecorderVersion(v[0], v[1]);
}

bool CIPCaptureDriver::Open(ipcapture::IDebugInfoSink* sink, ipcapture::IFrameAllocator* allocator,
                            ipcapture::IDeviceSetup* setup) {
  if (setup == nullptr) return false;
  // Reopening without Close: the previous objects go first, not leak.
  Close();
  if (!ReadSetup(setup)) return false;
  allocator_ = allocator;
  log_.SetSink(sink);
  ReadRecorderVersion();

  if (channel_count_ > kMaxVideoInputs) {
    Message(kLogFailure, "%s: Device %s reports %u video inputs, more than %u",
            "korvela::CIPCaptureDriver::Open", device_.address.c_str(), channel_count_,
            kMaxVideoInputs);
    return false;
  }
  video_.reset(new (std::nothrow) CIPVideoCapture(channel_count_, this));
  if (!video_) return false;

  CreatePrivacyZones();
  if (!CreateIO()) return false;
  if (!CheckDevice()) return false;
  return CreateAudioObjects(setup);
}

bool CIPCaptureDriver::CreateAudioObjects(ipcapture::IDeviceSetup* setup) {
  const char* input_caps = setup->GetParameter(ipcapture::kParamAudioInput);
  const char* output_caps = setup->GetParameter(ipcapture::kParamAudioOutput);
  if (input_caps == nullptr && output_caps == nullptr) return true;
  const uint32_t inputs = input_caps != nullptr ? ParseAudioChannelCount(input_caps) : 0;
  const uint32_t outputs = output_caps != nullptr ? ParseAudioChannelCount(output_caps) : 0;
  if (inputs > 0 && !audio_capture_)
    audio_capture_.reset(new (std::nothrow) CIPAudioCapture(this, inputs));
  if (outputs > 0 && !audio_sender_)
    audio_sender_.reset(new (std::nothrow) CIPAudioSender(this, outputs));
  return audio_capture_ != nullptr || audio_sender_ != nullptr;
}

void CIPCaptureDriver::Close() {
  // Video first: its channels use the privacy-zone object and the allocator.
  video_.reset();
  audio_capture_.reset();
  audio_sender_.reset();
  io_.reset();
}

void CIPCaptureDriver::LogOpened(const std::string& firmware) {
  if (device_.model.empty()) return;
  // Model and firmware were once device texts: cleaned, so that a stored
  // value with CR LF cannot forge further log lines.
  std::string line =
      "DRIVER IS OPENED (name: " + GetName() + ", device model: " + CleanDeviceText(device_.model);
  if (!firmware.empty()) line += ", FW: " + CleanDeviceText(firmware);
  line += ", address: " + device_.address + ":" + std::to_string(device_.port) + ")";
  // The texts come from the recorder: passed as an argument, never as format.
  Message(kLogOpened, "%s", line.c_str());
}

CQuarnoIPCaptureDriver::CQuarnoIPCaptureDriver(RecorderVersionReader version_reader,
                                               DriverObjectFactory factory)
    : CIPCaptureDriver(std::move(version_reader)), factory_(std::move(factory)) {}

bool CQuarnoIPCaptureDriver::Open(ipcapture::IDebugInfoSink* sink,
                                  ipcapture::IFrameAllocator* allocator,
                                  ipcapture::IDeviceSetup* setup) {
  if (!CIPCaptureDriver::Open(sink, allocator, setup)) return false;
  const int32_t channel_parameter = GetParameterInt(ipcapture::kParamVideoStandard);
  if (channel_parameter == kParameterNotANumber) return false;
  device().connect_timeout_ms = kConnectTimeoutMs;
  device().receive_timeout_ms = kReceiveTimeoutMs;
  set_channel_parameter(channel_parameter);
  LogOpened(GetParameter(ipcapture::kParamFirmwareVersion));
  return true;
}

bool CQuarnoIPCaptureDriver::CreateIO() {
  if (!has_io() && factory_.digital_io) set_io(factory_.digital_io(this));
  return has_io();
}

void CQuarnoIPCaptureDriver::CreatePrivacyZones() {
  // Strictly "1" (or "+1", "01"): atoi would also read "1x" or "4294967297" as 1.
  if (GetParameterInt(ipcapture::kParamPrivacyZones) != 1 || has_privacy_zones()) return;
  if (factory_.privacy_zones) set_privacy_zones(factory_.privacy_zones(this));
}

ICameraChannel* CQuarnoIPCaptureDriver::CreateVideoChannel(uint32_t input,
                                                           ipcapture::IFrameReceiver* receiver) {
  switch (GetStreamType()) {
    case ipcapture::kStreamMjpegHttp:
      return factory_.mjpeg_channel ? factory_.mjpeg_channel(this, input, receiver) : nullptr;
    case ipcapture::kStreamH264Rtsp:
      return factory_.h264_channel ? factory_.h264_channel(this, input, receiver) : nullptr;
    default:
      return nullptr;
  }
}

IAudioInputChannel* CQuarnoIPCaptureDriver::CreateAudioInputChannel(
    uint32_t key, uint32_t input, ipcapture::IAudioCallback* callback,
    ipcapture::IAudioFormatList* formats) {
  return factory_.audio_input_channel
             ? factory_.audio_input_channel(this, key, input, callback, formats)
             : nullptr;
}

IAudioOutputChannel* CQuarnoIPCaptureDriver::CreateAudioOutputChannel(
    uint32_t key, uint32_t value, ipcapture::IAudioSenderCallback* callback,
    ipcapture::IAudioOutputFormatList* formats) {
  return factory_.audio_output_channel
             ? factory_.audio_output_channel(this, key, value, callback, formats)
             : nullptr;
}

}  // namespace korvela
