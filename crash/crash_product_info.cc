#include "crash/crash_product_info.h"

#include <stdio.h>

#include <memory>

#include "base/environment.h"
#include "base/strings/string_util.h"

namespace crash_reporter {

namespace {

CrashProductInfo* MutableInfo() {
  // Never destroyed: a crash late in process exit still reads it.
  static CrashProductInfo* const info = new CrashProductInfo();
  return info;
}

}  // namespace

const char kCrashLogDirVariable[] = "KAVOR_CRASH_LOG_DIR";

void SetCrashProductInfo(const CrashProductInfo& info) {
  *MutableInfo() = info;
}

const CrashProductInfo& GetCrashProductInfo() {
  return *MutableInfo();
}

std::string ProductEnvironmentVariable(base::StringPiece suffix) {
  return base::ToUpperASCII(GetCrashProductInfo().product_word) + "_" +
         suffix.as_string();
}

std::string LowerProductWord() {
  return base::ToLowerASCII(GetCrashProductInfo().product_word);
}

std::string ComputeBuildId(const CrashProductInfo& info) {
  std::string stamp = info.build_timestamp.substr(0, 8);
  stamp.resize(8, '0');
  // The number is kept to its last six digits, so the stamp's width never
  // changes.
  const int64_t number = info.build_number;
  const unsigned long long digits =
      static_cast<unsigned long long>(number < 0 ? -number : number) % 1000000;
  char buffer[16];
  snprintf(buffer, sizeof(buffer), "%06llu", digits);
  return stamp + buffer;
}

std::string ComputeReleaseChannel(const CrashProductInfo& info) {
  if (info.channel_id == 2)
    return "nightly";
  if (info.channel_id == 4)
    return "release";
  return info.channel;
}

std::string SymbolsPackageFor(const base::FilePath& program) {
  return base::EndsWith(program.RemoveExtension().value(), L"_browsertests",
                        base::CompareCase::SENSITIVE)
             ? "tests-syms"
             : "browser-syms";
}

std::string GetEnvironmentValue(const std::string& name) {
  std::string value;
  if (!base::Environment::Create()->GetVar(name, &value))
    value.clear();
  return value;
}

bool GetEnvironmentFlag(const std::string& name) {
  const std::string value = GetEnvironmentValue(name);
  return value == "1" || base::EqualsCaseInsensitiveASCII(value, "yes") ||
         base::EqualsCaseInsensitiveASCII(value, "true");
}

}  // namespace crash_reporter
