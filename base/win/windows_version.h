#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <windows.h>

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/macros.h"

namespace base {
namespace win {

// Ordered: callers compare, e.g. GetVersion() >= WIN8.
enum Version {
  PRE_XP = 0,
  XP = 1,
  SERVER_2003 = 2,
  VISTA = 3,
  WIN7 = 4,
  WIN8 = 5,
  WIN8_1 = 6,
  WIN10 = 7,
  WIN10_TH2 = 8,
  WIN10_RS1 = 9,
  WIN10_RS2 = 10,
  WIN_LAST = 11,
};

enum EditionFamily {
  EDITION_HOME = 0,
  EDITION_PROFESSIONAL = 1,
  EDITION_SERVER = 2,
  EDITION_ENTERPRISE = 3,
  EDITION_EDUCATION = 4,
};

enum OsArchitecture {
  ARCH_X86 = 0,
  ARCH_X64 = 1,
  ARCH_IA64 = 2,
  ARCH_OTHER = 3,
};

enum Wow64State {
  WOW64_OFF = 0,
  WOW64_ON = 1,
  WOW64_UNDETERMINED = 2,
};

// What the process knows about the Windows it runs on, gathered once.
class OSInfo {
 public:
  struct VersionNumber {
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    uint32_t patch;  // The update build revision ("UBR").
  };

  struct ServicePack {
    int major;
    int minor;
  };

  // Every fact of the record, so that tests can describe another system
  // (see ScopedOSInfoOverride).
  struct Record {
    Version version = PRE_XP;
    VersionNumber version_number = {};
    EditionFamily edition = EDITION_HOME;
    ServicePack service_pack = {};
    std::string service_pack_str;
    OsArchitecture architecture = ARCH_OTHER;
    int processors = 0;
    uint32_t allocation_granularity = 0;
    Wow64State wow64_status = WOW64_OFF;
  };

  // The process's record: built on first use (without a lock; racing first
  // callers may each build one and only the first installed survives) and
  // never destroyed. Under a ScopedOSInfoOverride, the override's record.
  static OSInfo* GetInstance();

  Version version() const { return record_.version; }
  VersionNumber version_number() const { return record_.version_number; }
  EditionFamily edition() const { return record_.edition; }
  ServicePack service_pack() const { return record_.service_pack; }
  const std::string& service_pack_str() const {
    return record_.service_pack_str;
  }
  OsArchitecture architecture() const { return record_.architecture; }
  int processors() const { return record_.processors; }
  size_t allocation_granularity() const {
    return record_.allocation_granularity;
  }
  Wow64State wow64_status() const { return record_.wow64_status; }
  const Record& record() const { return record_; }

  // The pieces of the record that are pure mappings of system answers.
  static Version MajorMinorBuildToVersion(uint32_t major,
                                          uint32_t minor,
                                          uint32_t build);
  // Maps a GetProductInfo product type (Vista and later).
  static EditionFamily ProductTypeToEditionFamily(DWORD product_type);
  // Maps SYSTEM_INFO::wProcessorArchitecture.
  static OsArchitecture ProcessorArchitectureToOsArchitecture(WORD arch);
  // The 32-bit value "UBR" of |subkey| under |root|; 0 when the key or the
  // value is missing.
  static uint32_t ReadUpdateBuildRevision(HKEY root, const wchar_t* subkey);

 private:
  friend class ScopedOSInfoOverride;

  // Reads the running system.
  OSInfo();
  explicit OSInfo(const Record& record);

  Record record_;

  DISALLOW_COPY_AND_ASSIGN(OSInfo);
};

// Test only: while alive, OSInfo::GetInstance() and GetVersion() answer with
// |record| instead of the running system, so that code taking version
// branches can be exercised on any host. Overrides nest; they must be
// destroyed in reverse order of creation, and not while other threads may
// still hold the overriding OSInfo.
class ScopedOSInfoOverride {
 public:
  explicit ScopedOSInfoOverride(const OSInfo::Record& record);
  ~ScopedOSInfoOverride();

 private:
  OSInfo info_;
  OSInfo* previous_;

  DISALLOW_COPY_AND_ASSIGN(ScopedOSInfoOverride);
};

// OSInfo::GetInstance()->version().
Version GetVersion();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINDOWS_VERSION_H_
