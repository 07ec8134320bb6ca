#include "base/tick_thread.h"

namespace korvela {

bool CTickThread::StartTicking(const char* name) {
  tick_first_.store(true);
  return StartThread(name);
}

bool CTickThread::StopTicking() { return StopThread(5000); }

void CTickThread::Run() {
  CManualEvent& stop = StopEvent();
  if (tick_first_.load()) {
    do {
      Tick();
    } while (!stop.Wait(GetPeriod()));
  } else {
    while (!stop.Wait(GetPeriod())) Tick();
  }
}

}  // namespace korvela
