#include "crash/crash_key_table.h"

#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <set>

#include "base/check.h"
#include "base/strings/utf_string_conversions.h"

namespace crash_reporter {

namespace {

// Largest value lengths by declared key size, in whole entries: one, or
// as many as fit in the bytes the base runtime promises for the size.
constexpr size_t kMaxLengthSize32 = CrashKeyTableAdapter::kChunkLength;
constexpr size_t kMaxLengthSize64 = 4 * CrashKeyTableAdapter::kChunkLength;
constexpr size_t kMaxLengthLarge = 16 * CrashKeyTableAdapter::kChunkLength;

bool IsUTF8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest prefix of |text| of at most |max_bytes| that does not end
// inside a UTF-8 sequence, so that every cut piece converts on its own.
// Text that is not UTF-8 is cut at |max_bytes|.
base::StringPiece CutUTF8(base::StringPiece text, size_t max_bytes) {
  if (text.size() <= max_bytes)
    return text;
  size_t end = max_bytes;
  // A sequence is at most four bytes: at most three continuation bytes
  // separate a cut from the start of its character.
  for (int i = 0; i < 3 && end > 0 && IsUTF8Continuation(text[end]); ++i)
    --end;
  if (end == 0 || IsUTF8Continuation(text[end]))
    end = max_bytes;
  return text.substr(0, end);
}

// Copies at most |capacity| - 1 units of |text| and a terminator.
void CopyToEntryField(const std::wstring& text,
                      wchar_t* field,
                      size_t capacity) {
  const size_t length = std::min(text.size(), capacity - 1);
  wmemcpy(field, text.data(), length);
  field[length] = L'\0';
}

size_t DecimalDigits(size_t n) {
  size_t digits = 1;
  while (n >= 10) {
    n /= 10;
    ++digits;
  }
  return digits;
}

size_t ChunkCount(size_t max_length) {
  return (max_length + CrashKeyTableAdapter::kChunkLength - 1) /
         CrashKeyTableAdapter::kChunkLength;
}

// The length of a NUL-terminated text within |capacity| units, or
// |capacity| when there is no terminator there.
size_t BoundedLength(const wchar_t* text, size_t capacity) {
  size_t length = 0;
  while (length < capacity && text[length] != L'\0')
    ++length;
  return length;
}

bool IsNameCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
         (c >= L'0' && c <= L'9') || c == L'.' || c == L'-' || c == L'_';
}

// Splits "base-N" into its base and N. The base must not be empty; N is
// one or more decimal digits that fit into a size_t.
bool ParseChunkName(const std::wstring& name,
                    std::wstring* base_name,
                    size_t* chunk_number) {
  const size_t dash = name.rfind(L'-');
  if (dash == std::wstring::npos || dash == 0 || dash + 1 == name.size())
    return false;
  size_t number = 0;
  for (size_t i = dash + 1; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (c < L'0' || c > L'9')
      return false;
    const size_t digit = static_cast<size_t>(c - L'0');
    if (number > (SIZE_MAX - digit) / 10)
      return false;
    number = number * 10 + digit;
  }
  base_name->assign(name, 0, dash);
  *chunk_number = number;
  return true;
}

}  // namespace

constexpr wchar_t CrashKeyTable::kUnusedEntryName[];

// static
CrashKeyTable* CrashKeyTable::GetInstance() {
  static CrashKeyTable* const instance = new CrashKeyTable();
  return instance;
}

CrashKeyTable::CrashKeyTable() : entries_(kEntryCount) {
  for (CustomInfoEntry& entry : entries_) {
    CopyToEntryField(kUnusedEntryName, entry.name,
                     CustomInfoEntry::kNameMaxLength);
    entry.value[0] = L'\0';
  }
}

void CrashKeyTable::SetKeyValue(base::StringPiece name,
                                base::StringPiece value) {
  SetKeyValues({name}, {value});
}

void CrashKeyTable::SetKeyValues(const std::vector<base::StringPiece>& names,
                                 const std::vector<base::StringPiece>& values) {
  DCHECK_EQ(names.size(), values.size());
  const size_t count = std::min(names.size(), values.size());
  std::vector<std::wstring> wide_names(count);
  std::vector<std::wstring> wide_values(count);
  for (size_t i = 0; i < count; ++i) {
    wide_names[i] = base::UTF8ToWide(CutUTF8(names[i], kMaxLength));
    wide_values[i] = base::UTF8ToWide(CutUTF8(values[i], kMaxLength));
  }

  base::AutoLock lock(lock_);
  std::set<std::wstring> new_names;
  for (const std::wstring& name : wide_names) {
    if (index_.find(name) == index_.end())
      new_names.insert(name);
  }
  const bool new_names_fit = index_.size() + new_names.size() <= kEntryCount;
  for (size_t i = 0; i < count; ++i) {
    if (new_names_fit || index_.find(wide_names[i]) != index_.end())
      SetLocked(wide_names[i], wide_values[i]);
  }
}

void CrashKeyTable::ClearKey(base::StringPiece name) {
  base::AutoLock lock(lock_);
  ClearLocked(name);
}

void CrashKeyTable::ClearKeys(const std::vector<base::StringPiece>& names) {
  base::AutoLock lock(lock_);
  for (base::StringPiece name : names)
    ClearLocked(name);
}

CustomClientInfo CrashKeyTable::GetCustomInfo() const {
  return CustomClientInfo{entries_.data(), entries_.size()};
}

void CrashKeyTable::SetLocked(const std::wstring& name,
                              const std::wstring& value) {
  auto it = index_.find(name);
  if (it == index_.end()) {
    DCHECK_LT(index_.size(), kEntryCount);
    const size_t entry_index = index_.size();
    CustomInfoEntry& entry = entries_[entry_index];
    // The value first: a reader never sees the new name with a stale value.
    entry.value[0] = L'\0';
    CopyToEntryField(name, entry.name, CustomInfoEntry::kNameMaxLength);
    it = index_.emplace(name, entry_index).first;
  }
  CopyToEntryField(value, entries_[it->second].value,
                   CustomInfoEntry::kValueMaxLength);
}

void CrashKeyTable::ClearLocked(base::StringPiece name) {
  auto it = index_.find(base::UTF8ToWide(CutUTF8(name, kMaxLength)));
  if (it != index_.end())
    entries_[it->second].value[0] = L'\0';
}

CrashKeyTableAdapter::CrashKeyTableAdapter(CrashKeyTable* table)
    : table_(table) {
  DCHECK(table_);
}

CrashKeyTableAdapter::~CrashKeyTableAdapter() = default;

// static
size_t CrashKeyTableAdapter::MaxValueLength(uint32_t size) {
  switch (size) {
    case base::debug::kCrashKeySize32:
      return kMaxLengthSize32;
    case base::debug::kCrashKeySize64:
      return kMaxLengthSize64;
    default:
      return kMaxLengthLarge;
  }
}

// static
std::vector<std::string> CrashKeyTableAdapter::EntryNames(const char* name,
                                                          uint32_t size) {
  const size_t max_length = MaxValueLength(size);
  if (max_length <= kChunkLength)
    return {name};
  const size_t chunks = ChunkCount(max_length);
  // Room for "-" and the largest chunk number, so that no chunk name is cut
  // by the table and two chunks never share an entry.
  const base::StringPiece base_name =
      CutUTF8(name, CrashKeyTable::kMaxLength - 1 - DecimalDigits(chunks));
  std::vector<std::string> names;
  names.reserve(chunks);
  for (size_t i = 1; i <= chunks; ++i)
    names.push_back(base_name.as_string() + "-" + std::to_string(i));
  return names;
}

base::debug::CrashKeyString* CrashKeyTableAdapter::Allocate(const char* name,
                                                            uint32_t size) {
  if (!name)
    return nullptr;
  // Keys live as long as the process, like the table.
  return new base::debug::CrashKeyString(name, size);
}

void CrashKeyTableAdapter::Set(base::debug::CrashKeyString* crash_key,
                               base::StringPiece value) {
  const std::vector<std::string> names =
      EntryNames(crash_key->name, crash_key->size);
  const std::vector<base::StringPiece> name_pieces(names.begin(), names.end());
  std::vector<base::StringPiece> values;
  values.reserve(names.size());
  base::StringPiece rest = CutUTF8(value, MaxValueLength(crash_key->size));
  for (size_t i = 0; i < names.size(); ++i) {
    // Pieces end on character boundaries, so each chunk converts alone and
    // the joined chunks give back the text. A value that lost bytes to the
    // boundaries may not fit all its chunks; its end is cut.
    const base::StringPiece piece = CutUTF8(rest, kChunkLength);
    values.push_back(piece);
    rest.remove_prefix(piece.size());
  }
  table_->SetKeyValues(name_pieces, values);
}

void CrashKeyTableAdapter::Clear(base::debug::CrashKeyString* crash_key) {
  const std::vector<std::string> names =
      EntryNames(crash_key->name, crash_key->size);
  table_->ClearKeys(std::vector<base::StringPiece>(names.begin(), names.end()));
}

ParsedCrashKeys::ParsedCrashKeys(const CustomInfoEntry* entries, size_t count) {
  // Chunk base name -> chunk number -> value.
  std::map<std::wstring, std::map<size_t, std::wstring>> chunks;
  for (size_t i = 0; i < count; ++i) {
    const CustomInfoEntry& entry = entries[i];
    const size_t name_length =
        BoundedLength(entry.name, CustomInfoEntry::kNameMaxLength);
    const size_t value_length =
        BoundedLength(entry.value, CustomInfoEntry::kValueMaxLength);
    if (name_length == 0 || name_length == CustomInfoEntry::kNameMaxLength ||
        value_length == CustomInfoEntry::kValueMaxLength) {
      continue;
    }
    std::wstring name(entry.name, name_length);
    bool valid_name = true;
    for (wchar_t c : name)
      valid_name = valid_name && IsNameCharacter(c);
    if (!valid_name || name == CrashKeyTable::kUnusedEntryName)
      continue;
    std::wstring value(entry.value, value_length);

    std::wstring base_name;
    size_t chunk_number = 0;
    if (ParseChunkName(name, &base_name, &chunk_number)) {
      if (keys_.find(base_name) != keys_.end())
        continue;
      // The first entry with a given chunk number is the one that counts.
      chunks[base_name].emplace(chunk_number, std::move(value));
      continue;
    }
    if (keys_.find(name) != keys_.end() || chunks.find(name) != chunks.end())
      continue;
    keys_.emplace(std::move(name), std::move(value));
  }

  for (auto& chunked_key : chunks) {
    if (keys_.find(chunked_key.first) != keys_.end())
      continue;
    std::wstring joined;
    for (const auto& chunk : chunked_key.second)
      joined += chunk.second;
    keys_.emplace(chunked_key.first, std::move(joined));
  }
}

ParsedCrashKeys::~ParsedCrashKeys() = default;

const std::wstring& ParsedCrashKeys::GetValue(base::StringPiece name) const {
  auto it = keys_.find(base::UTF8ToWide(name));
  return it == keys_.end() ? empty_ : it->second;
}

void ParsedCrashKeys::ForEach(
    const base::RepeatingCallback<void(
        const std::wstring& name, const std::wstring& value)>& callback) const {
  for (const auto& key : keys_)
    callback.Run(key.first, key.second);
}

}  // namespace crash_reporter
