#include "desktop/windows/installer/avro_stats/request_deadline.h"

#include <utility>

#include "base/logging.h"

namespace installer {

RequestDeadline::RequestDeadline(base::TimeDelta deadline,
                                 base::OnceClosure cancel)
    : cancel_(std::move(cancel)) {
  timer_ = ::CreateThreadpoolTimer(&RequestDeadline::OnTimer, this, nullptr);
  if (!timer_) {
    // The request is then bounded only by WinINet's own time-outs (and the
    // shutdown's deadline, which does not need this timer to end).
    PLOG(ERROR) << "Could not create the timer of a request deadline";
    return;
  }
  // Relative due times are negative, in 100-nanosecond units.
  const int64_t due = -deadline.InMicroseconds() * 10;
  ULARGE_INTEGER value;
  value.QuadPart = static_cast<ULONGLONG>(due < 0 ? due : -1);
  FILETIME due_time;
  due_time.dwLowDateTime = value.LowPart;
  due_time.dwHighDateTime = value.HighPart;
  ::SetThreadpoolTimer(timer_, &due_time, 0, 0);
}

RequestDeadline::~RequestDeadline() {
  Disarm();
}

void RequestDeadline::CancelNow() {
  // Under the lock, so that Disarm returns only after a cancel has ended.
  base::AutoLock lock(lock_);
  if (!cancel_)
    return;
  cancelled_ = true;
  std::move(cancel_).Run();
}

bool RequestDeadline::Disarm() {
  if (timer_) {
    ::SetThreadpoolTimer(timer_, nullptr, 0, 0);
    ::WaitForThreadpoolTimerCallbacks(timer_, TRUE);
    ::CloseThreadpoolTimer(timer_);
    timer_ = nullptr;
  }
  base::AutoLock lock(lock_);
  cancel_.Reset();
  return cancelled_;
}

// static
void CALLBACK RequestDeadline::OnTimer(PTP_CALLBACK_INSTANCE instance,
                                       void* context,
                                       PTP_TIMER timer) {
  static_cast<RequestDeadline*>(context)->CancelNow();
}

}  // namespace installer
