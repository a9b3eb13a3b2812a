#include "crash/crash_report_upload.h"

namespace crash_reporter {
CrashReportFields::CrashReportFields() = default;
CrashReportFields::~CrashReportFields() = default;
void CollectClientCrashFields(HANDLE, const ParsedCrashKeys&, CrashReportFields*) {}
bool UploadCrashReportAsync(const base::FilePath&, std::unique_ptr<CrashReportFields>, bool) { return false; }
}  // namespace crash_reporter
