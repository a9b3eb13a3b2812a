#ifndef CRASH_CRASH_KEY_TABLE_H_
#define CRASH_CRASH_KEY_TABLE_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base/callback.h"
#include "base/debug/crash_logging.h"
#include "base/macros.h"
#include "base/strings/string_piece.h"
#include "base/synchronization/lock.h"
#include "crash/crash_generation/crash_generation_protocol.h"

// The crash keys of an installer process, kept where the crash-reporter
// process can copy them out of this process at dump time: a fixed array of
// wide-character entries that never moves. Keys longer than one entry are
// spread over numbered chunk keys ("name-1", "name-2", ...), which the
// reporter joins again with ParsedCrashKeys.
namespace crash_reporter {

class CrashKeyTable {
 public:
  // The number of entries, and so of distinct keys, a process can have.
  static constexpr size_t kEntryCount = 256;
  // Bytes of UTF-8 a name or value keeps (one entry's units minus the
  // terminator).
  static constexpr size_t kMaxLength = CustomInfoEntry::kValueMaxLength - 1;
  // The name of every entry no key has taken yet.
  static constexpr wchar_t kUnusedEntryName[] = L"unspecified-crash-key";

  // The process's table, made on first use and never destroyed (the
  // reporter may read it during exit).
  static CrashKeyTable* GetInstance();

  // Other tables are for tests.
  CrashKeyTable();

  // Sets a key, taking a free entry for a name not seen before. Names and
  // values are UTF-8, cut to at most kMaxLength bytes without splitting a
  // character. A key that finds no free entry is dropped.
  void SetKeyValue(base::StringPiece name, base::StringPiece value);
  // Sets several keys at once. The new names among them are stored all
  // together or, when the free entries cannot take them all, not at all, so
  // that a chunked key is never stored in part; existing names are set
  // either way. |names| and |values| have the same count.
  void SetKeyValues(const std::vector<base::StringPiece>& names,
                    const std::vector<base::StringPiece>& values);

  // Empties a key's value. The key keeps its entry.
  void ClearKey(base::StringPiece name);
  void ClearKeys(const std::vector<base::StringPiece>& names);

  // The entries as the crash-generation server reads them: all
  // kEntryCount of them, used or not.
  CustomClientInfo GetCustomInfo() const;

 private:
  // Each expects lock_ to be held.
  void SetLocked(const std::wstring& name, const std::wstring& value);
  void ClearLocked(base::StringPiece name);

  base::Lock lock_;
  // Key name -> index of its entry. Keys take entries in order, so the
  // number of keys is also the index of the next free entry.
  std::map<std::wstring, size_t> index_;
  // Sized once: the reporter holds their address for the process's life.
  std::vector<CustomInfoEntry> entries_;

  DISALLOW_COPY_AND_ASSIGN(CrashKeyTable);
};

// Crash keys of the base runtime (base/debug/crash_logging.h) stored in a
// CrashKeyTable.
class CrashKeyTableAdapter : public base::debug::CrashKeyImplementation {
 public:
  // Bytes of one chunk of a long key.
  static constexpr size_t kChunkLength = CrashKeyTable::kMaxLength;

  explicit CrashKeyTableAdapter(CrashKeyTable* table);
  ~CrashKeyTableAdapter() override;

  // The longest value, in bytes, that a key of |size| keeps.
  static size_t MaxValueLength(uint32_t size);

  // The entry names a key uses: its own name when its values fit one entry,
  // else one chunk name per chunk.
  static std::vector<std::string> EntryNames(const char* name, uint32_t size);

  // base::debug::CrashKeyImplementation:
  base::debug::CrashKeyString* Allocate(const char* name,
                                        uint32_t size) override;
  void Set(base::debug::CrashKeyString* crash_key,
           base::StringPiece value) override;
  void Clear(base::debug::CrashKeyString* crash_key) override;

 private:
  CrashKeyTable* const table_;

  DISALLOW_COPY_AND_ASSIGN(CrashKeyTableAdapter);
};

// The crash keys of a process, read back from a copy of its entries: unused
// and malformed entries left out, chunked keys joined into one.
class ParsedCrashKeys {
 public:
  // |entries| may come from another, possibly damaged, process: nothing in
  // them is trusted.
  ParsedCrashKeys(const CustomInfoEntry* entries, size_t count);
  ~ParsedCrashKeys();

  // The value of |name|, or the empty string when there is no such key.
  const std::wstring& GetValue(base::StringPiece name) const;

  // Every key, in name order.
  void ForEach(const base::RepeatingCallback<void(const std::wstring& name,
                                                  const std::wstring& value)>&
                   callback) const;

  size_t size() const { return keys_.size(); }

 private:
  std::map<std::wstring, std::wstring> keys_;
  const std::wstring empty_;

  DISALLOW_COPY_AND_ASSIGN(ParsedCrashKeys);
};

}  // namespace crash_reporter

#endif  // CRASH_CRASH_KEY_TABLE_H_
