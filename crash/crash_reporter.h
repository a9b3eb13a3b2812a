#ifndef CRASH_CRASH_REPORTER_H_
#define CRASH_CRASH_REPORTER_H_

#include <windows.h>

#include <string>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"

// How every installer process that is not itself the crash reporter takes
// part in crash reporting: it joins the reporter its command line names, or
// starts one, connects its exception handler to the reporter's pipe and
// publishes the crash keys its dumps carry. All of it runs early in start-up,
// before logging exists, so nothing here logs; every failure just leaves the
// process without a reporter.
namespace crash_reporter {

// Switches of the crash reporter.
extern const char kCrashReporterParentIdSwitch[];
extern const char kCrashReporterPidSwitch[];
extern const char kCrashReporterExceptionInfoSwitch[];

// The reporter sets "<prefix><launching pid>" once its pipe listens; the
// pipe is "<prefix><reporter pid>".
extern const wchar_t kCrashReporterInitEventPrefix[];
extern const wchar_t kCrashReporterPipePrefix[];
// How long the launching process waits for a new reporter.
constexpr DWORD kCrashReporterStartTimeoutMs = 2000;
// Tests on a loaded machine widen that wait (0 puts back the usual one): a
// reporter that starts slowly is no failure of theirs. Not for the product.
void SetCrashReporterStartTimeoutForTesting(DWORD milliseconds);

// "%s%u" of |prefix| and |id| as a kernel-object name; false when it does
// not fit the names' room.
bool FormatCrashReporterObjectName(const wchar_t* prefix,
                                   DWORD id,
                                   base::string16* name);

// What a crash reporter asks of its host. The order of the functions is
// the interface: hosts and the reporter share the object through its table,
// so the fixed queries keep their places even though every host answers
// them alike.
class CrashReporterClient {
 public:
  virtual ~CrashReporterClient();

  virtual bool IsBrowserProcessType(const base::string16& process_type);
  virtual bool FixedQuery2();
  virtual void GetProductInfo(const base::FilePath& program,
                              base::string16* product,
                              base::string16* version,
                              base::string16* special_build,
                              base::string16* channel);
  virtual bool FixedQuery4();
  virtual bool FixedQuery5();
  virtual bool FixedQuery6();
  virtual bool FixedQuery7();
  virtual bool FixedQuery8();
  virtual int FixedQuery9();
  virtual bool GetDumpFolder(base::FilePath* folder);
  virtual bool FixedQuery11();
  virtual bool GetCountersPath(base::FilePath* path);
  virtual bool FixedQuery13();
  virtual bool FixedQuery14();
  virtual bool ReportsWithoutConsent();
  virtual bool IsEnabled();
  virtual bool FixedQuery17();
  virtual bool FixedQuery18();
  virtual bool FixedQuery19();
  virtual bool FixedQuery20();
};

class InstallerCrashReporterClient : public CrashReporterClient {
 public:
  static InstallerCrashReporterClient* GetInstance();

  // CrashReporterClient:
  void GetProductInfo(const base::FilePath& program,
                      base::string16* product,
                      base::string16* version,
                      base::string16* special_build,
                      base::string16* channel) override;
  bool GetDumpFolder(base::FilePath* folder) override;
  bool GetCountersPath(base::FilePath* path) override;
  bool ReportsWithoutConsent() override;
  bool IsEnabled() override;

  // The reporter's process id for the `crash-reporter-pid` switch of child
  // processes; 0 when there is no reporter.
  long crash_reporter_pid() const { return static_cast<long>(reporter_pid_); }
  void set_crash_reporter_pid(DWORD pid) { reporter_pid_ = pid; }

 private:
  InstallerCrashReporterClient() = default;
  ~InstallerCrashReporterClient() override = default;

  bool enabled_ = true;
  DWORD reporter_pid_ = 0;

  DISALLOW_COPY_AND_ASSIGN(InstallerCrashReporterClient);
};

// The crash-reporter child's whole work (it has `crash-reporter-parent-id`):
// its own exception handlers, then the reporter, or with
// `crash-reporter-exception-info` the report of a crashed reporter.
void RunCrashReporterChild();
// How every other installer process takes part, in order: the callback
// exception policy, the reporter (joined or started), the exception handler
// when there is a reporter, and the initial crash keys.
void JoinCrashReporting();

// Clears the process's callback exception policy bit, so that exceptions in
// window callbacks reach the crash handler instead of being swallowed.
void DisableCallbackExceptionFilter();

// Starts a reporter: this program again, with this process's command line
// and `crash-reporter-parent-id`. Its process id once its pipe listens; 0
// when it cannot start, ends first, or does not answer in time.
DWORD LaunchCrashReporterProcess();

// True when a reporter exists (given by `crash-reporter-pid`, or started
// now); a negative UBN reports no crashes and starts none.
bool EnsureCrashReporterProcess();
// Connects this process's exception handler to the reporter's pipe; once.
void InstallOutOfProcessCrashHandler();
// The crash keys every dump of this process carries from the start.
void SetInitialCrashKeys();

}  // namespace crash_reporter

#endif  // CRASH_CRASH_REPORTER_H_
