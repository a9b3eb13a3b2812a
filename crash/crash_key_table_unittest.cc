#include "crash/crash_key_table.h"

#include <string>
#include <vector>

#include "base/bind.h"
#include "base/debug/crash_logging.h"
#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace crash_reporter {
namespace {

using base::debug::kCrashKeySize256;
using base::debug::kCrashKeySize32;
using base::debug::kCrashKeySize64;

// The used entries of |table| as "name=value", in table order.
std::vector<std::wstring> UsedEntries(const CrashKeyTable& table) {
  const CustomClientInfo info = table.GetCustomInfo();
  std::vector<std::wstring> used;
  for (size_t i = 0; i < info.count; ++i) {
    if (std::wstring(info.entries[i].name) != CrashKeyTable::kUnusedEntryName)
      used.push_back(std::wstring(info.entries[i].name) + L"=" +
                     info.entries[i].value);
  }
  return used;
}

std::string Utf8(const std::wstring& text) {
  return base::WideToUTF8(text);
}

std::wstring ParsedValue(const CrashKeyTable& table, const char* name) {
  const CustomClientInfo info = table.GetCustomInfo();
  return ParsedCrashKeys(info.entries, info.count).GetValue(name);
}

CustomInfoEntry Entry(const std::wstring& name, const std::wstring& value) {
  CustomInfoEntry entry = {};
  wcsncpy(entry.name, name.c_str(), CustomInfoEntry::kNameMaxLength - 1);
  wcsncpy(entry.value, value.c_str(), CustomInfoEntry::kValueMaxLength - 1);
  return entry;
}

TEST(CrashKeyTableTest, KeysTakeEntriesInOrderAndKeepThem) {
  CrashKeyTable table;
  table.SetKeyValue("prod", "KavorDesktop");
  table.SetKeyValue("ver", "47.0");
  table.SetKeyValue("prod", "Other");
  EXPECT_EQ((std::vector<std::wstring>{L"prod=Other", L"ver=47.0"}),
            UsedEntries(table));

  // Clearing empties the value; the key keeps its entry, and setting it
  // again uses that entry.
  table.ClearKey("prod");
  table.ClearKey("absent");
  EXPECT_EQ((std::vector<std::wstring>{L"prod=", L"ver=47.0"}),
            UsedEntries(table));
  table.SetKeyValue("prod", "Back");
  table.ClearKeys({"ver", "absent"});
  EXPECT_EQ((std::vector<std::wstring>{L"prod=Back", L"ver="}),
            UsedEntries(table));
}

TEST(CrashKeyTableTest, NamesAndValuesAreCutToOneEntry) {
  CrashKeyTable table;
  const std::string long_name(70, 'n');
  const std::string long_value(100, 'v');
  table.SetKeyValue(long_name, long_value);
  const CustomClientInfo info = table.GetCustomInfo();
  EXPECT_EQ(std::wstring(63, L'n'), info.entries[0].name);
  EXPECT_EQ(std::wstring(63, L'v'), info.entries[0].value);
  // Names that agree in their first 63 bytes are one key.
  table.SetKeyValue(long_name + "x", "again");
  EXPECT_EQ(std::vector<std::wstring>{std::wstring(63, L'n') + L"=again"},
            UsedEntries(table));
  // 62 ASCII bytes and a two-byte character: the character would straddle
  // byte 63, so it is left out whole.
  table.SetKeyValue("k", std::string(62, 'a') + "\xC3\xA9");
  EXPECT_EQ(std::wstring(62, L'a'), table.GetCustomInfo().entries[1].value);
}

TEST(CrashKeyTableTest, TheTableHoldsAtMost256Keys) {
  CrashKeyTable table;
  const void* entries_before = table.GetCustomInfo().entries;
  for (int i = 0; i < 256; ++i)
    table.SetKeyValue("key" + std::to_string(i), std::to_string(i));
  table.SetKeyValue("one-too-many", "dropped");
  // Known keys still change.
  table.SetKeyValue("key7", "changed");

  const CustomClientInfo info = table.GetCustomInfo();
  // The server keeps this address for the process's life.
  EXPECT_EQ(entries_before, info.entries);
  ParsedCrashKeys parsed(info.entries, info.count);
  EXPECT_EQ(256u, parsed.size());
  EXPECT_EQ(L"255", parsed.GetValue("key255"));
  EXPECT_EQ(L"changed", parsed.GetValue("key7"));
  EXPECT_EQ(L"", parsed.GetValue("one-too-many"));
}

TEST(CrashKeyTableTest, AChunkedKeyIsStoredWholeOrNotAtAll) {
  CrashKeyTable table;
  CrashKeyTableAdapter adapter(&table);
  for (int i = 0; i < 250; ++i)
    table.SetKeyValue("key" + std::to_string(i), "x");
  // Six free entries, sixteen chunks: a part of the value would read back
  // as if it were all of it.
  base::debug::CrashKeyString* note =
      adapter.Allocate("note", kCrashKeySize256);
  adapter.Set(note, std::string(500, 'v'));
  EXPECT_EQ(250u, UsedEntries(table).size());
  EXPECT_EQ(L"", ParsedValue(table, "note"));

  // A key of one entry still fits, and so does a chunked key of four.
  base::debug::CrashKeyString* small =
      adapter.Allocate("small", kCrashKeySize64);
  adapter.Set(small, std::string(200, 's'));
  EXPECT_EQ(std::wstring(200, L's'), ParsedValue(table, "small"));
  table.SetKeyValue("last", "x");
  EXPECT_EQ(255u, UsedEntries(table).size());
}

TEST(CrashKeyTableAdapterTest, LongValueIsSplitIntoChunksAndReadBackWhole) {
  CrashKeyTable table;
  CrashKeyTableAdapter adapter(&table);
  base::debug::CrashKeyString* note =
      adapter.Allocate("note", kCrashKeySize256);
  ASSERT_TRUE(note);
  std::string value;
  for (int i = 0; i < 100; ++i)
    value += static_cast<char>('a' + i % 26);
  adapter.Set(note, value);

  const std::vector<std::wstring> used = UsedEntries(table);
  ASSERT_EQ(16u, used.size());
  EXPECT_EQ(L"note-1=" + base::UTF8ToWide(value.substr(0, 63)), used[0]);
  EXPECT_EQ(L"note-2=" + base::UTF8ToWide(value.substr(63)), used[1]);
  for (size_t i = 2; i < used.size(); ++i)
    EXPECT_EQ(L"note-" + std::to_wstring(i + 1) + L"=", used[i]);

  const CustomClientInfo info = table.GetCustomInfo();
  ParsedCrashKeys parsed(info.entries, info.count);
  EXPECT_EQ(1u, parsed.size());
  EXPECT_EQ(value, Utf8(parsed.GetValue("note")));

  // A shorter value empties the chunks it no longer needs; clearing
  // empties them all.
  adapter.Set(note, "short");
  EXPECT_EQ(L"short", ParsedValue(table, "note"));
  EXPECT_EQ(L"note-2=", UsedEntries(table)[1]);
  adapter.Clear(note);
  EXPECT_EQ(16u, UsedEntries(table).size());
  for (const std::wstring& entry : UsedEntries(table))
    EXPECT_EQ(L'=', entry.back()) << entry;
}

TEST(CrashKeyTableAdapterTest, DeclaredSizeBoundsTheValueAndChunkNames) {
  CrashKeyTable table;
  CrashKeyTableAdapter adapter(&table);
  const std::string value(2000, 'v');
  adapter.Set(adapter.Allocate("s32", kCrashKeySize32), value);
  adapter.Set(adapter.Allocate("s64", kCrashKeySize64), value);
  adapter.Set(adapter.Allocate("s100", 100), value);
  // A long name is cut so that "-16" still fits: all sixteen chunks stay
  // distinct entries of one key.
  const std::string long_name(70, 'n');
  adapter.Set(adapter.Allocate(long_name.c_str(), kCrashKeySize256), value);

  const std::vector<std::wstring> used = UsedEntries(table);
  ASSERT_EQ(1u + 4 + 16 + 16, used.size());
  // The one-entry key is stored under its own name, not as a chunk.
  EXPECT_EQ(L"s32=" + std::wstring(63, L'v'), used[0]);
  EXPECT_EQ(L"s64-4=" + std::wstring(63, L'v'), used[4]);
  EXPECT_EQ(std::wstring(60, L'n') + L"-16=" + std::wstring(63, L'v'),
            used.back());
  EXPECT_EQ(252u, ParsedValue(table, "s64").size());
  EXPECT_EQ(1008u, ParsedValue(table, "s100").size());
  EXPECT_EQ(1008u, ParsedValue(table, std::string(60, 'n').c_str()).size());
}

TEST(CrashKeyTableAdapterTest, ChunksEndOnCharacterBoundaries) {
  CrashKeyTable table;
  CrashKeyTableAdapter adapter(&table);
  // Two-byte characters: a cut every 63 bytes would fall inside one.
  std::string accents;
  for (int i = 0; i < 200; ++i)
    accents += "\xC3\xA9";
  adapter.Set(adapter.Allocate("accents", kCrashKeySize256), accents);
  EXPECT_EQ(accents, Utf8(ParsedValue(table, "accents")));

  // Four-byte characters in a four-chunk key: each chunk holds fifteen of
  // them, so the end of the 252 bytes does not fit and is left out whole.
  std::string emoji;
  for (int i = 0; i < 100; ++i)
    emoji += "\xF0\x9F\x98\x80";
  adapter.Set(adapter.Allocate("emoji", kCrashKeySize64), emoji);
  EXPECT_EQ(emoji.substr(0, 60 * 4), Utf8(ParsedValue(table, "emoji")));
}

TEST(CrashKeyTableAdapterTest, ServesTheBaseRuntimeCrashKeys) {
  CrashKeyTable table;
  base::debug::SetCrashKeyImplementation(
      std::make_unique<CrashKeyTableAdapter>(&table));
  base::debug::CrashKeyString* key =
      base::debug::AllocateCrashKeyString("Email", kCrashKeySize32);
  ASSERT_TRUE(key);
  base::debug::SetCrashKeyString(key, "someone@example.com");
  EXPECT_EQ(L"someone@example.com", ParsedValue(table, "Email"));
  base::debug::ClearCrashKeyString(key);
  EXPECT_EQ(std::vector<std::wstring>{L"Email="}, UsedEntries(table));
  base::debug::SetCrashKeyImplementation(nullptr);
}

TEST(ParsedCrashKeysTest, KeyNameRules) {
  std::vector<CustomInfoEntry> entries = {
      Entry(L"a-b", L"plain"),    // No digits after the dash.
      Entry(L"x", L"plain x"),    // Plain key first ...
      Entry(L"x-1", L"dropped"),  // ... so its chunk is dropped.
      Entry(L"y-1", L"chunk y"),  // Chunk first ...
      Entry(L"y", L"dropped"),    // ... so the plain key is dropped.
      Entry(L"z-10", L"ten"),     // Joined by number, not table order.
      Entry(L"z-2", L"two,"),
      Entry(L"z-1", L"one,"),
      Entry(L"z-2", L"dropped"),  // A chunk number counts once.
      Entry(L"dup", L"first"),
      Entry(L"dup", L"second"),
      Entry(L"big-99999999999999999999999", L"no overflow"),
      Entry(L"-5", L"no base name"),
      Entry(L"ok.name_1", L"fine"),
      Entry(L"bad name", L"space"),
      Entry(L"caf\u00e9", L"not ASCII"),
      Entry(L"", L"empty name"),
      Entry(L"unspecified-crash-key", L"unused"),
  };
  CustomInfoEntry no_name_terminator = Entry(L"n", L"v");
  wmemset(no_name_terminator.name, L'n', CustomInfoEntry::kNameMaxLength);
  entries.push_back(no_name_terminator);
  CustomInfoEntry no_value_terminator = Entry(L"unterminated", L"v");
  wmemset(no_value_terminator.value, L'v', CustomInfoEntry::kValueMaxLength);
  entries.push_back(no_value_terminator);
  CustomInfoEntry longest = Entry(L"", L"longest");
  wmemset(longest.name, L'L', CustomInfoEntry::kNameMaxLength - 1);
  entries.push_back(longest);

  ParsedCrashKeys parsed(entries.data(), entries.size());
  std::vector<std::wstring> keys;
  parsed.ForEach(base::BindRepeating(
      [](std::vector<std::wstring>* keys, const std::wstring& name,
         const std::wstring& value) { keys->push_back(name + L"=" + value); },
      &keys));
  EXPECT_EQ((std::vector<std::wstring>{
                L"-5=no base name",
                std::wstring(63, L'L') + L"=longest",
                L"a-b=plain",
                L"big-99999999999999999999999=no overflow",
                L"dup=first",
                L"ok.name_1=fine",
                L"x=plain x",
                L"y=chunk y",
                L"z=one,two,ten",
            }),
            keys);
  EXPECT_EQ(L"", parsed.GetValue("bad name"));
  EXPECT_EQ(L"", parsed.GetValue("unterminated"));
  EXPECT_EQ(L"", parsed.GetValue("missing"));
}

}  // namespace
}  // namespace crash_reporter
