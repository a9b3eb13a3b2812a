#include "desktop/windows/installer/service/task_scheduler_common.h"

#include <oleauto.h>

#include "base/logging.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "desktop/windows/installer/common/product_constants.h"

namespace installer {

namespace {

std::wstring ProductTaskPrefix() {
  return base::UTF8ToWide(GetProductName()) + L" scheduled ";
}

}  // namespace

std::wstring GetScheduledTaskFullName(const std::wstring& name) {
  return ProductTaskPrefix() + name;
}

bool IsProductScheduledTaskName(const std::wstring& full_name) {
  return base::StartsWith(full_name, ProductTaskPrefix(),
                          base::CompareCase::INSENSITIVE_ASCII);
}

base::Time TimeFromLocalSystemTime(const SYSTEMTIME& local) {
  base::Time::Exploded exploded = {};
  exploded.year = local.wYear;
  exploded.month = local.wMonth;
  exploded.day_of_week = local.wDayOfWeek;
  exploded.day_of_month = local.wDay;
  exploded.hour = local.wHour;
  exploded.minute = local.wMinute;
  exploded.second = local.wSecond;
  base::Time time;
  if (!base::Time::FromLocalExploded(exploded, &time))
    return base::Time();
  return time;
}

TaskString::TaskString(const std::wstring& text) {
  bstr_.Reset(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
  // Out of memory.
  CHECK(bstr_.Get());
}

TaskString::~TaskString() = default;

}  // namespace installer
