#ifndef DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_REQUEST_DEADLINE_H_
#define DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_REQUEST_DEADLINE_H_

#include <windows.h>

#include "base/callback.h"
#include "base/macros.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"

namespace installer {

// Bounds a blocking request as a whole: WinINet's time-outs apply to each
// connect, send and receive, so a server that trickles its answer never
// trips them. When the deadline passes first, |cancel| runs once on a
// thread-pool thread; for WinINet it closes the request's handle, which ends
// a call blocked on it.
//
//   RequestDeadline deadline(base::TimeDelta::FromSeconds(10), close_it);
//   ... the blocking call ...
//   if (deadline.Disarm())
//     ... the request was cancelled; its handle is gone ...
class RequestDeadline {
 public:
  RequestDeadline(base::TimeDelta deadline, base::OnceClosure cancel);
  // Disarms.
  ~RequestDeadline();

  // Cancels at once, unless that has happened or the deadline is disarmed.
  void CancelNow();

  // Stops the timer and waits for a cancel under way; true when |cancel|
  // has run. Later deadlines and CancelNow do nothing.
  bool Disarm();

 private:
  static void CALLBACK OnTimer(PTP_CALLBACK_INSTANCE instance,
                               void* context,
                               PTP_TIMER timer);

  base::Lock lock_;
  // Null once it has run or the deadline is disarmed.
  base::OnceClosure cancel_;
  bool cancelled_ = false;
  PTP_TIMER timer_ = nullptr;

  DISALLOW_COPY_AND_ASSIGN(RequestDeadline);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_AVRO_STATS_REQUEST_DEADLINE_H_
