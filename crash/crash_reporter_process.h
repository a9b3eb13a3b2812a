#ifndef CRASH_CRASH_REPORTER_PROCESS_H_
#define CRASH_CRASH_REPORTER_PROCESS_H_

#include <windows.h>

#include <string>

// The reporter's files, settings and dumps, which its callers and tests
// use alongside it.
#include "crash/reporter_common.h"

// The crash-reporter child: the installer run again with
// `crash-reporter-parent-id`. It serves the crash-generation pipe for every
// installer process that joins it, writes their dumps, counts and uploads
// them, and stays until its parent has gone and its work is done.
namespace crash_reporter {

class ClientInfo;
class CounterFileWriter;

// Runs the reporter: 0 after the parent has gone and all work is done, -1
// when it cannot be set up (then the launching process sees it end before
// its init event and goes on without a reporter).
int RunCrashReporterServer();

// What the dump callback works with.
struct DumpContext {
  CounterFileWriter* counters = nullptr;
  bool keep_logs = false;
};

// The crash-generation server's dump callback: |context| is a DumpContext.
void OnClientDumpRequest(void* context,
                         const ClientInfo* client_info,
                         const std::wstring* unused_dump_path);

}  // namespace crash_reporter

#endif  // CRASH_CRASH_REPORTER_PROCESS_H_
