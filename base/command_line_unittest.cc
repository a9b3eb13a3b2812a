#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <random>
#include <string>
#include <vector>

#include "base/macros.h"
#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using StringType = CommandLine::StringType;
using StringVector = CommandLine::StringVector;

CommandLine FromString(const StringType& text) {
  CommandLine command_line(CommandLine::NO_PROGRAM);
  command_line.ParseFromString(text);
  return command_line;
}

// What the system's splitter makes of |text|.
StringVector SplitWithSystem(const StringType& text) {
  int count = 0;
  wchar_t** items = ::CommandLineToArgvW(text.c_str(), &count);
  StringVector result;
  if (!items)
    return result;
  result.assign(items, items + count);
  ::LocalFree(items);
  return result;
}

// |alphabet| is a literal; the text is |min_length| to |max_length| long.
template <size_t N>
StringType RandomText(std::mt19937& random,
                      const wchar_t (&alphabet)[N],
                      size_t min_length,
                      size_t max_length) {
  std::uniform_int_distribution<size_t> length(min_length, max_length);
  std::uniform_int_distribution<size_t> pick(0, N - 2);
  StringType text;
  for (size_t n = length(random); n > 0; --n)
    text.push_back(alphabet[pick(random)]);
  return text;
}

TEST(CommandLineTest, ParseSwitchesAndArguments) {
  const StringType text = L"prog --Foo=Bar /baz -q arg1 -- --notswitch";
  const CommandLine cl = FromString(text);

  EXPECT_EQ(L"prog", cl.GetProgram().value());
  EXPECT_EQ(3u, cl.GetSwitches().size());
  EXPECT_EQ(L"Bar", cl.GetSwitchValueNative("foo"));
  EXPECT_EQ("Bar", cl.GetSwitchValueASCII("foo"));
  EXPECT_TRUE(cl.HasSwitch("baz"));
  EXPECT_TRUE(cl.HasSwitch("q"));
  EXPECT_EQ(L"", cl.GetSwitchValueNative("q"));
  EXPECT_FALSE(cl.HasSwitch("notswitch"));
  EXPECT_EQ((StringVector{L"arg1", L"--", L"--notswitch"}), cl.GetArgs());

  EXPECT_EQ(L"prog --foo=Bar /baz -q arg1 -- --notswitch",
            cl.GetCommandLineString());
  EXPECT_EQ(L"--foo=Bar /baz -q arg1 -- --notswitch", cl.GetArgumentsString());
}

TEST(CommandLineTest, SwitchesStandBeforeArguments) {
  const CommandLine moved = FromString(L"prog a --x");
  EXPECT_EQ(L"prog --x a", moved.GetCommandLineString());

  const CommandLine repeated = FromString(L"prog --x=1 --x=2");
  EXPECT_EQ(L"2", repeated.GetSwitchValueNative("x"));
  EXPECT_EQ(1u, repeated.GetSwitches().size());
  EXPECT_EQ(L"prog --x=1 --x=2", repeated.GetCommandLineString());

  // Values keep every "=" after the first.
  EXPECT_EQ(L"b=c", FromString(L"p --a=b=c").GetSwitchValueNative("a"));
}

TEST(CommandLineTest, BlankItemsAndLonePrefixes) {
  const wchar_t* items[] = {L"prog", L"  ", L"", L"\t--sw=v ", L" arg "};
  const CommandLine cl(static_cast<int>(arraysize(items)), items);
  EXPECT_EQ(L"v", cl.GetSwitchValueNative("sw"));
  EXPECT_EQ((StringVector{L"arg"}), cl.GetArgs());
  EXPECT_EQ((StringVector{L"prog", L"--sw=v", L"arg"}), cl.argv());

  const CommandLine quoted_blank = FromString(L"prog \" \" x");
  EXPECT_EQ((StringVector{L"x"}), quoted_blank.GetArgs());

  const CommandLine lone = FromString(L"prog - /");
  EXPECT_TRUE(lone.GetSwitches().empty());
  EXPECT_EQ((StringVector{L"-", L"/"}), lone.GetArgs());
  EXPECT_EQ((StringVector{L"--"}), FromString(L"prog --").GetArgs());

  // "--=v" has the prefix "--": a switch with an empty name.
  const CommandLine empty_name = FromString(L"prog --=v");
  EXPECT_TRUE(empty_name.HasSwitch(""));
  EXPECT_TRUE(empty_name.HasSwitch(nullptr));
  EXPECT_EQ(L"v", empty_name.GetSwitchValueNative(""));
  EXPECT_TRUE(empty_name.GetArgs().empty());
}

TEST(CommandLineTest, Lookups) {
  const CommandLine cl = FromString(L"prog --Path=C:\\x --wide=\u00e9t\u00e9");
  EXPECT_FALSE(cl.HasSwitch("Path"));
  EXPECT_FALSE(cl.HasSwitch("PATH"));
  EXPECT_TRUE(cl.HasSwitch(std::string("path")));
  EXPECT_EQ(L"C:\\x", cl.GetSwitchValuePath("path").value());
  EXPECT_EQ("", cl.GetSwitchValueASCII("wide"));
  EXPECT_EQ(L"\u00e9t\u00e9", cl.GetSwitchValueNative("wide"));
  EXPECT_EQ("", cl.GetSwitchValueASCII("absent"));
  EXPECT_TRUE(cl.GetSwitchValuePath("absent").empty());

  // The names are lowered byte-wise, and the map is in byte order.
  std::vector<std::string> names;
  const CommandLine sorted = FromString(L"p --b --A --a_ --B9");
  for (const auto& entry : sorted.GetSwitches())
    names.push_back(entry.first);
  EXPECT_EQ((std::vector<std::string>{"a", "a_", "b", "b9"}), names);
}

TEST(CommandLineTest, ProgramAndEmptyStates) {
  const CommandLine none(CommandLine::NO_PROGRAM);
  EXPECT_EQ((StringVector{L""}), none.argv());
  EXPECT_TRUE(none.GetProgram().empty());
  // Written as nothing, the first argument would read back as the program.
  EXPECT_EQ(L"\"\"", none.GetCommandLineString());

  CommandLine cl(FilePath(L"  C:\\p.exe \t"));
  EXPECT_EQ(L"C:\\p.exe", cl.GetProgram().value());
  cl.AppendSwitch("x");
  cl.AppendArg("y");

  // White-space-only text changes nothing.
  cl.ParseFromString(L" \t ");
  EXPECT_EQ((StringVector{L"C:\\p.exe", L"--x", L"y"}), cl.argv());

  cl.InitFromArgv(StringVector());
  EXPECT_EQ((StringVector{L""}), cl.argv());
  EXPECT_TRUE(cl.GetSwitches().empty());

  // Re-initialising from our own items must not read freed memory.
  CommandLine self = FromString(L"prog --s=1 a");
  self.InitFromArgv(self.argv());
  EXPECT_EQ((StringVector{L"prog", L"--s=1", L"a"}), self.argv());
}

TEST(CommandLineTest, AppendSwitch) {
  CommandLine cl(FilePath(L"prog"));
  cl.AppendArg("arg");
  cl.AppendSwitch("--Already");
  cl.AppendSwitch("x");
  cl.AppendSwitch("/Slash");
  cl.AppendSwitchASCII("empty", "");
  cl.AppendSwitchASCII("v", "1");
  cl.AppendSwitchPath("dir", FilePath(L"C:\\a b"));
  cl.AppendSwitchNative("w", L"\u00e9");

  EXPECT_TRUE(cl.HasSwitch("already"));
  EXPECT_TRUE(cl.HasSwitch("slash"));
  EXPECT_EQ(L"C:\\a b", cl.GetSwitchValuePath("dir").value());
  EXPECT_EQ((StringVector{L"prog", L"--already", L"--x", L"/slash", L"--empty",
                          L"--v=1", L"--dir=C:\\a b", L"--w=\u00e9", L"arg"}),
            cl.argv());
  EXPECT_EQ(
      L"prog --already --x /slash --empty --v=1 --dir=\"C:\\a b\" "
      L"--w=\u00e9 arg",
      cl.GetCommandLineString());
}

TEST(CommandLineTest, CopySwitchesFromAndAppendArguments) {
  const CommandLine source =
      FromString(L"src --a=1 --b --c=3 srcarg -- --after");
  CommandLine target(FilePath(L"prog"));
  target.AppendSwitchASCII("a", "0");
  const char* const kWanted[] = {"c", "missing", "a"};
  target.CopySwitchesFrom(source, kWanted, arraysize(kWanted));
  EXPECT_EQ((StringVector{L"prog", L"--a=0", L"--c=3", L"--a=1"}),
            target.argv());
  EXPECT_EQ(L"1", target.GetSwitchValueNative("a"));
  EXPECT_FALSE(target.HasSwitch("b"));

  CommandLine merged = FromString(L"prog --a=old --keep x");
  merged.AppendArguments(source, false);
  EXPECT_EQ(L"prog", merged.GetProgram().value());
  EXPECT_EQ(L"1", merged.GetSwitchValueNative("a"));
  EXPECT_TRUE(merged.HasSwitch("keep"));
  EXPECT_TRUE(merged.HasSwitch("b"));
  EXPECT_FALSE(merged.HasSwitch("after"));
  EXPECT_EQ((StringVector{L"x", L"srcarg", L"--", L"--after"}),
            merged.GetArgs());

  merged.AppendArguments(source, true);
  EXPECT_EQ(L"src", merged.GetProgram().value());

  CommandLine twice = FromString(L"p --s a");
  twice.AppendArguments(twice, false);
  EXPECT_EQ((StringVector{L"p", L"--s", L"--s", L"a", L"a"}), twice.argv());
}

TEST(CommandLineTest, Quoting) {
  CommandLine program(FilePath(L"C:\\dir\\prog.exe"));
  EXPECT_EQ(L"\"C:\\dir\\prog.exe\"", program.GetCommandLineString());

  CommandLine cl(FilePath(L"p"));
  cl.AppendSwitchNative("trail", L"C:\\dir\\");
  cl.AppendSwitchNative("quote", L"say \"hi\"");
  cl.AppendSwitchNative("slashquote", L"a\\\"b");
  cl.AppendSwitchNative("plain", L"abc");
  cl.AppendArgNative(L"two words");
  cl.AppendArgNative(L"a\\\\b");
  EXPECT_EQ(
      L"p --trail=\"C:\\dir\\\\\" --quote=\"say \\\"hi\\\"\" "
      L"--slashquote=\"a\\\\\\\"b\" --plain=abc \"two words\" \"a\\\\b\"",
      cl.GetCommandLineString());
}

// Whatever the items hold, the system's splitter must give back exactly the
// items that were written.
TEST(CommandLineTest, WrittenTextSplitsBackIntoTheSameItems) {
  std::mt19937 random(20261206);
  const wchar_t kArgAlphabet[] = L"ab -/\t\"\\";
  const wchar_t kValueAlphabet[] = L"ab =-/\t\"\\\u00e9";

  const wchar_t* const kPrograms[] = {
      L"",          L"prog",      L"C:\\Program Files\\p.exe",
      L"C:\\dir\\", L"C:\\a b\\", L"a\tb",
      L"\u00e9.exe"};
  std::uniform_int_distribution<size_t> pick_program(0,
                                                     arraysize(kPrograms) - 1);
  std::bernoulli_distribution empty_item(0.15);
  for (int iteration = 0; iteration < 4000; ++iteration) {
    CommandLine cl(FilePath(kPrograms[pick_program(random)]));
    std::uniform_int_distribution<int> count(0, 4);
    for (int i = count(random); i > 0; --i) {
      cl.AppendSwitchNative("s" + std::to_string(i),
                            RandomText(random, kValueAlphabet, 1, 8));
    }
    for (int i = count(random); i > 0; --i) {
      // An empty item the splitter must give back too.
      cl.AppendArgNative(empty_item(random)
                             ? StringType()
                             : RandomText(random, kArgAlphabet, 1, 8));
    }

    const StringType written = cl.GetCommandLineString();
    ASSERT_EQ(cl.argv(), SplitWithSystem(written))
        << "iteration " << iteration << ": " << written;
  }
}

// The same promise one level up: a written command line parses back to the
// same program, switches and arguments.
void ExpectParsesBack(const CommandLine& cl) {
  const StringType written = cl.GetCommandLineString();
  ASSERT_FALSE(written.empty());
  const CommandLine parsed = FromString(written);
  EXPECT_EQ(cl.GetProgram().value(), parsed.GetProgram().value()) << written;
  EXPECT_EQ(cl.GetSwitches(), parsed.GetSwitches()) << written;
  EXPECT_EQ(cl.GetArgs(), parsed.GetArgs()) << written;
  EXPECT_EQ(cl.argv(), parsed.argv()) << written;
}

TEST(CommandLineTest, HardItemsParseBack) {
  struct Case {
    const wchar_t* program;
    const char* switch_name;  // UTF-8; null for none
    const wchar_t* value;
    const wchar_t* argument;  // null for none
  } const kCases[] = {
      {L"", nullptr, L"", L"a"},  // empty program, then an argument
      {L"", "x", L"", nullptr},   // empty program, then a switch
      {L"p", "", L"", nullptr},   // "--=": not the terminator
      {L"p", "-", L"", nullptr},  // "-=": not a lone prefix
      {L"p", "", L"", L"a"},      // "--=" with arguments behind
      {L"p",
       "\xc4\x80"
       "x",
       L"v", L"a"},  // U+0100: no NUL in the text
      {L"p",
       "a\xc4\xbd"
       "b",
       L"", nullptr},                             // U+013D: not "="
      {L"p", "\xf0\x9f\x98\x80", L"1", nullptr},  // outside the BMP
      {L"p", nullptr, L"", L"--switchlike"},
      {L"p", "s", L"v", L"/x=y"},
      {L"C:\\a b\\", nullptr, L"", L"x"},  // program ends in a backslash
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.switch_name);
    CommandLine cl(FilePath(c.program));
    if (c.switch_name)
      cl.AppendSwitchNative(c.switch_name, c.value);
    if (c.argument)
      cl.AppendArgNative(c.argument);
    ExpectParsesBack(cl);
  }

  // A switch with a non-ASCII name is found under its UTF-8 name.
  const CommandLine wide = FromString(L"p --\u0100x=1 --A\u013db");
  EXPECT_EQ(L"1", wide.GetSwitchValueNative("\xc4\x80x"));
  EXPECT_TRUE(
      wide.HasSwitch("a\xc4\xbd"
                     "b"));
  EXPECT_EQ(2u, wide.GetSwitches().size());

  // A switch-looking argument keeps its place behind a terminator.
  CommandLine cl(FilePath(L"p"));
  cl.AppendArgNative(L"plain");
  cl.AppendArgNative(L"--one");
  cl.AppendArgNative(L"--two");
  EXPECT_EQ((StringVector{L"plain", L"--", L"--one", L"--two"}), cl.GetArgs());
  EXPECT_TRUE(FromString(cl.GetCommandLineString()).GetSwitches().empty());
}

TEST(CommandLineTest, UnwritableItemsAreRefused) {
  CommandLine quote_and_blank(FilePath(L"a\"b c"));
  EXPECT_EQ(L"", quote_and_blank.GetCommandLineString());
  CommandLine leading_quote(FilePath(L"\"ab"));
  EXPECT_EQ(L"", leading_quote.GetCommandLineString());
  // Without a blank the splitter keeps the quote of an unquoted program.
  CommandLine inner_quote(FilePath(L"a\"b"));
  ExpectParsesBack(inner_quote);

  CommandLine nul(FilePath(L"p"));
  nul.AppendArgNative(StringType(L"a\0b", 3));
  nul.AppendArg("tail");
  EXPECT_EQ(L"", nul.GetCommandLineString());
  EXPECT_EQ(L"", nul.GetArgumentsString());
}

TEST(CommandLineTest, WrittenTextParsesBackToTheSameCommandLine) {
  std::mt19937 random(47);
  // The parser trims every item, so generated items keep their ends
  // printable; "=" cannot be part of a name.
  const wchar_t kNameAlphabet[] = L"aB-/ \t\"\\\u00e9\u0100\u013d";
  const wchar_t kTextAlphabet[] = L"aB =-/\t\"\\\u00e9\u0100\u013d";
  const char* const kPrefixes[] = {"", "--", "-", "/"};
  const wchar_t* const kPrograms[] = {L"", L"prog",
                                      L"C:\\Program Files\\Kavor\\p.exe",
                                      L"C:\\a b\\", L"\u0100\\\u013d x.exe"};
  std::uniform_int_distribution<int> count(0, 3);
  auto printable_ends = [](StringType text) {
    return text.empty() ? text : L"x" + text + L"x";
  };

  for (int iteration = 0; iteration < 3000; ++iteration) {
    CommandLine cl(FilePath(kPrograms[std::uniform_int_distribution<size_t>(
        0, arraysize(kPrograms) - 1)(random)]));
    for (int i = count(random); i > 0; --i) {
      // Names may be empty ("--=") and hold any non-ASCII character.
      StringType name = RandomText(random, kNameAlphabet, 0, 6);
      while (!name.empty() && (name.back() == L' ' || name.back() == L'\t'))
        name.pop_back();
      const std::string prefix =
          kPrefixes[std::uniform_int_distribution<size_t>(
              0, arraysize(kPrefixes) - 1)(random)];
      cl.AppendSwitchNative(
          prefix + WideToUTF8(name),
          printable_ends(RandomText(random, kTextAlphabet, 0, 6)));
    }
    for (int i = count(random); i > 0; --i) {
      // Arguments include "--", and switch-looking text such as "-x".
      StringType argument = RandomText(random, kTextAlphabet, 0, 6) + L"x";
      while (argument[0] == L' ' || argument[0] == L'\t')
        argument.erase(0, 1);
      if (random() % 4 == 0)
        argument = L"--";
      cl.AppendArgNative(argument);
    }
    SCOPED_TRACE(testing::Message() << "iteration " << iteration);
    ExpectParsesBack(cl);
    if (HasFailure())
      return;
  }
}

TEST(CommandLineTest, ProcessInstance) {
  const bool created = CommandLine::Init();
  CommandLine* instance = CommandLine::ForCurrentProcess();
  ASSERT_TRUE(instance);
  if (created) {
    EXPECT_EQ(FromString(::GetCommandLineW()).argv(), instance->argv());
  }

  instance->AppendSwitch("kavor-test-marker");
  EXPECT_FALSE(CommandLine::Init());
  EXPECT_EQ(instance, CommandLine::ForCurrentProcess());
  EXPECT_TRUE(CommandLine::ForCurrentProcess()->HasSwitch("kavor-test-marker"));
}

TEST(CommandLineTest, CopyIsIndependent) {
  CommandLine original = FromString(L"p --a=1 x");
  CommandLine copy(original);
  copy.AppendSwitchASCII("a", "2");
  EXPECT_EQ(L"1", original.GetSwitchValueNative("a"));
  original = copy;
  EXPECT_EQ(L"2", original.GetSwitchValueNative("a"));
  EXPECT_EQ(copy.argv(), original.argv());
}

}  // namespace
}  // namespace base
