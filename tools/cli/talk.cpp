// `veltrano talk`: plays a file on the device's loudspeaker the way a
// recorder sends talk-back: open the driver with one audio output, open
// talk-back channel 0, wait until the device is ready, then hand over 20 ms
// mu-law frames in real time, and close.
//
// The file is raw G.711 mu-law (8 kHz) or a WAV file of 8 kHz mono mu-law or
// 16-bit PCM (converted). The channel's states go to stdout as they come.
// Exit 0 only when every frame was taken by the driver and written to the
// device without the channel leaving "sending".
//
// Threading: the main thread paces and hands over the frames; state reports
// arrive on the driver's threads (AudioSenderCallback has its own lock).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "audio_files.h"
#include "command.h"
#include "host.h"
#include "options.h"
#include "recorder/audio_host.h"

namespace veltrano_cli {
namespace {

namespace ipcapture = korvela::ipcapture;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kKey = 0;
constexpr size_t kFrameBytes = 160;  // 20 ms of 8 kHz mu-law
constexpr auto kFramePeriod = std::chrono::milliseconds(20);
// Preparing the device takes a few requests of at most 5 s each.
constexpr auto kReadyTimeout = std::chrono::seconds(30);
// After the last frame: the queue drains at network speed.
constexpr auto kDrainTimeout = std::chrono::seconds(30);

struct TalkOptions {
  DeviceOptions device;
  std::string file;
};

const char* StateName(uint32_t state) {
  switch (state) {
    case ipcapture::kAudioOutputStopped:
      return "stopped";
    case ipcapture::kAudioOutputStarting:
      return "starting";
    case ipcapture::kAudioOutputSending:
      return "sending";
    case ipcapture::kAudioOutputStopping:
      return "stopping";
    case ipcapture::kAudioOutputNoFormat:
      return "no usable format";
    case ipcapture::kAudioOutputUnreachable:
      return "device unreachable";
    default:
      return "unknown";
  }
}

// Prints every state report once, in order.
void PrintStates(const korvela::recorder::AudioSenderCallback& callback, size_t& printed) {
  const auto states = callback.States();
  for (; printed < states.size(); ++printed) {
    std::printf("state %u %s\n", states[printed].second, StateName(states[printed].second));
  }
  std::fflush(stdout);
}

bool LeftSending(const korvela::recorder::AudioSenderCallback& callback) {
  bool sending = false;
  for (const auto& [key, state] : callback.States()) {
    if (state == ipcapture::kAudioOutputSending) sending = true;
    if (sending && state != ipcapture::kAudioOutputSending &&
        state != ipcapture::kAudioOutputStopping && state != ipcapture::kAudioOutputStopped) {
      return true;
    }
  }
  return false;
}

int RunTalk(const TalkOptions& options) {
  std::vector<uint8_t> audio;
  std::string error;
  if (!ReadTalkFile(options.file, audio, error)) {
    std::fprintf(stderr, "veltrano talk: %s\n", error.c_str());
    return error.find("is not taken") != std::string::npos ? kExitUsage : kExitIoFailed;
  }
  // Declared before the host: the driver (and its threads) goes first.
  korvela::recorder::AudioSenderCallback callback;
  korvela::recorder::AudioOutputFormatList formats;
  CliHost host;
  DeviceOptions device = options.device;
  // One talk-back output unless the user says otherwise.
  device.params.try_emplace(ipcapture::kParamAudioOutput, "Count=1; IsStereo=0");
  if (!host.Open(device, ipcapture::kStreamMjpegHttp, "", &error)) {
    std::fprintf(stderr, "veltrano talk: %s\n", error.c_str());
    return error.find("load") != std::string::npos ? kExitLoadFailed : kExitDeviceFailed;
  }
  ipcapture::IIPAudioSender* sender = host.driver()->GetAudioSender();
  if (sender == nullptr || !sender->OpenChannel(kKey, 0, &callback, &formats)) {
    std::fprintf(stderr, "veltrano talk: the driver opened no talk-back channel\n");
    return kExitDeviceFailed;
  }
  size_t printed = 0;
  const bool ready = callback.WaitForState(ipcapture::kAudioOutputSending, kReadyTimeout);
  korvela::recorder::AudioFormat format;
  if (!ready || !sender->GetAudioFormat(kKey, &format)) {
    PrintStates(callback, printed);
    std::fprintf(stderr, "veltrano talk: the device is not ready for talk-back\n");
    sender->CloseChannel(kKey);
    PrintStates(callback, printed);
    return kExitDeviceFailed;
  }
  PrintStates(callback, printed);

  size_t refused = 0;
  const Clock::time_point start = Clock::now();
  for (size_t at = 0, n = 0; at < audio.size(); at += kFrameBytes, ++n) {
    std::this_thread::sleep_until(start + n * kFramePeriod);
    const auto length = static_cast<uint32_t>(std::min(kFrameBytes, audio.size() - at));
    ipcapture::IAudioFrame* frame = host.allocator().NewTalkbackFrame(
        audio.data() + at, length, static_cast<uint8_t>(kKey), format.bit_rate());
    if (frame == nullptr || !sender->SendAudioFrame(frame)) {
      ++refused;
      if (frame != nullptr) host.allocator().ReleaseAudioFrame(frame);  // still ours
    }
    PrintStates(callback, printed);
  }
  // Every frame handed over is released once written or dropped.
  const Clock::time_point drain_end = Clock::now() + kDrainTimeout;
  while (host.allocator().live_audio() > 0 && Clock::now() < drain_end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const bool drained = host.allocator().live_audio() == 0;
  const bool left_sending = LeftSending(callback);
  sender->CloseChannel(kKey);
  PrintStates(callback, printed);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("sent %zu bytes in %.1f s, %zu frames refused\n", audio.size(), seconds, refused);
  if (refused > 0 || !drained || left_sending) {
    std::fprintf(stderr, "veltrano talk: not every frame reached the device\n");
    return kExitDeviceFailed;
  }
  return kExitOk;
}

std::function<int()> SetupTalk(CLI::App& app) {
  auto options = std::make_shared<TalkOptions>();
  AddDeviceOptions(app, options->device);
  app.add_option("--file", options->file,
                 "audio to play: raw mu-law (.ul) or WAV (8 kHz mono, mu-law or 16-bit PCM)")
      ->required()
      ->check(NotEmpty());
  return [options] { return RunTalk(*options); };
}

}  // namespace
}  // namespace veltrano_cli

VELTRANO_COMMAND(talk, "talk", "play an audio file on the device's loudspeaker (talk-back)",
                 veltrano_cli::SetupTalk);
