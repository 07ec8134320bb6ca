#include "rtsp/rtcp_handler.h"

#include "platform/random.h"

namespace korvela {
namespace {

constexpr uint8_t kVersion2 = 0x80;
constexpr uint8_t kSenderReport = 200;
constexpr uint8_t kReceiverReport = 201;
constexpr uint8_t kBye = 203;
constexpr uint32_t kMinPacketBytes = 8;         // common header and SSRC
constexpr uint32_t kMinSenderReportBytes = 28;  // header, SSRC and sender info

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

CRTCPHandler::CRTCPHandler(IDebugMessage* log, const platform::Clock& clock)
    : CBaseThread(log), client_(log), clock_(clock), ownSsrc_(platform::RandomU32()) {}

CRTCPHandler::~CRTCPHandler() { Stop(); }

bool CRTCPHandler::Start(uint32_t expected_address, uint16_t port) {
  if (client_.GetPort() != 0 || expected_address == 0 || !reportEvent_.IsValid()) {
    startError_ = platform::SocketError::kInvalid;
    return false;
  }
  expectedAddress_.store(expected_address);
  {
    // A packet that came in while the last session stopped names no peer of this one.
    CSyncLockGuard guard(lock_);
    peerKnown_ = false;
  }
  client_.SetBufferSize(1536);
  client_.SetTimeout(1, 0);
  if (!client_.Open(this, port)) {
    startError_ = client_.GetOpenError();
    return false;
  }
  if (!StartThread("RTCP Handler Thread")) {
    startError_ = platform::SocketError::kOther;
    client_.Close();
    return false;
  }
  startError_ = platform::SocketError::kNone;
  return true;
}

void CRTCPHandler::Stop() {
  // The thread ends first, so no report is sent while the socket closes.
  StopThread(5000);
  uint8_t bye[kByeBytes] = {kVersion2 | 1, kBye, 0, 1};
  PutBe32(bye + 4, ownSsrc_);
  SendToPeer(bye, sizeof bye);
  {
    CSyncLockGuard guard(lock_);
    peerKnown_ = false;
  }
  client_.Close();
}

void CRTCPHandler::UpdateSequence(uint16_t seq) {
  CSyncLockGuard guard(lock_);
  stats_.Update(seq);
}

void CRTCPHandler::OnData(IRTPClient* client, const platform::Endpoint& sender, const uint8_t* data,
                          uint32_t length) {
  if (client != &client_ || sender.address_be != expectedAddress_.load()) return;
  if (length < kMinPacketBytes || (data[0] & 0xC0) != kVersion2) return;
  const bool sender_report = data[1] == kSenderReport && length >= kMinSenderReportBytes;
  {
    CSyncLockGuard guard(lock_);
    // Reports go where the camera's sender reports come from.
    if (!peerKnown_) {
      peer_ = sender;
      peerKnown_ = sender_report;
    }
    if (sender_report) {
      srSeen_ = true;
      senderSsrc_ = Be32(data + 4);
      lastSrStamp_ = Be32(data + 10);
      lastSrArrivalMs_ = clock_.TickMs();
    }
  }
  reportEvent_.Set();
}

std::array<uint8_t, CRTCPHandler::kReceiverReportBytes> CRTCPHandler::BuildReceiverReport() {
  // RR with one report block (RFC 3550 6.4.2).
  std::array<uint8_t, kReceiverReportBytes> rr{kVersion2 | 1, kReceiverReport, 0, 7};
  PutBe32(&rr[4], ownSsrc_);
  CSyncLockGuard guard(lock_);
  PutBe32(&rr[8], senderSsrc_);
  const RtpSequenceStatistics::Loss loss = stats_.TakeReportLoss();
  PutBe32(&rr[12], static_cast<uint32_t>(loss.cumulative) & 0xFFFFFF);
  rr[12] = loss.fraction;
  PutBe32(&rr[16], stats_.ExtendedHighest());
  // Interarrival jitter (bytes 20-23) stays 0: packets reach us without
  // their arrival times in media clock units.
  if (srSeen_) {
    PutBe32(&rr[24], lastSrStamp_);
    // Delay since the last SR in 1/65536 s, rounded.
    const uint64_t elapsed_ms = static_cast<uint32_t>(clock_.TickMs() - lastSrArrivalMs_);
    PutBe32(&rr[28], static_cast<uint32_t>((elapsed_ms * 65536 + 500) / 1000));
  }
  return rr;
}

bool CRTCPHandler::SendToPeer(const uint8_t* data, size_t length) {
  platform::Endpoint peer;
  {
    CSyncLockGuard guard(lock_);
    if (!peerKnown_) return false;
    peer = peer_;
  }
  if (client_.SendTo(peer, data, static_cast<uint32_t>(length))) return true;
  // No more reports until the next sender report names the peer again.
  CSyncLockGuard guard(lock_);
  peerKnown_ = false;
  return false;
}

void CRTCPHandler::Run() {
  for (;;) {
    const int woken = WaitForAny(StopEvent(), reportEvent_, kReportWaitMs);
    if (woken == 0 || IsStopSignalled()) break;
    if (woken != 1) continue;  // time-out: reports only answer the camera's RTCP
    {
      CSyncLockGuard guard(lock_);
      if (!peerKnown_) continue;
    }
    const auto rr = BuildReceiverReport();
    SendToPeer(rr.data(), rr.size());
  }
}

}  // namespace korvela
