#include "base/command_line.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <utility>

#include "base/check.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_generic.h"

namespace base {

namespace {

using StringType = CommandLine::StringType;
using CharType = CommandLine::CharType;

constexpr size_t npos = StringType::npos;

// Tried in this order, so "--x" has the two-character prefix.
const CharType* const kSwitchPrefixes[] = {L"--", L"-", L"/"};
const CharType kSwitchTerminator[] = L"--";
const CharType kSwitchValueSeparator[] = L"=";

// Only the starting thread writes it, before any other thread exists.
CommandLine* g_current_process_commandline = nullptr;

size_t GetSwitchPrefixLength(const StringType& string) {
  for (const CharType* prefix : kSwitchPrefixes) {
    const StringType prefix_string(prefix);
    if (string.compare(0, prefix_string.length(), prefix_string) == 0)
      return prefix_string.length();
  }
  return 0;
}

// Splits a switch item into its name as written (prefix included) and the
// text after the first "=". An item that is only a prefix is no switch.
bool IsSwitch(const StringType& string,
              StringType* switch_string,
              StringType* switch_value) {
  switch_string->clear();
  switch_value->clear();
  const size_t prefix_length = GetSwitchPrefixLength(string);
  if (prefix_length == 0 || prefix_length == string.length())
    return false;

  const size_t equals_position = string.find(kSwitchValueSeparator);
  *switch_string = string.substr(0, equals_position);
  if (equals_position != npos)
    *switch_value = string.substr(equals_position + 1);
  return true;
}

// The 8-bit form of a switch name as written. ASCII names are narrowed
// unit by unit; any other name is kept as UTF-8, since narrowing would turn
// U+0100 into a NUL that ends the written line and U+013D into "=". False
// when the name has no UTF-8 form.
bool SwitchNameToKey(const StringType& name, std::string* key) {
  if (IsStringASCII(name)) {
    *key = UTF16ToASCII(name);
    return true;
  }
  return WideToUTF8(name.data(), name.length(), key);
}

// True when the parser would take |arg| for a switch.
bool LooksLikeSwitch(const StringType& arg) {
  StringType trimmed;
  TrimWhitespace(arg, TRIM_ALL, &trimmed);
  StringType switch_string;
  StringType switch_value;
  return IsSwitch(trimmed, &switch_string, &switch_value);
}

void AppendSwitchesAndArguments(CommandLine* command_line,
                                const CommandLine::StringVector& argv) {
  bool parse_switches = true;
  for (size_t i = 1; i < argv.size(); ++i) {
    StringType arg;
    TrimWhitespace(argv[i], TRIM_ALL, &arg);
    // A quoted blank is neither switch nor argument.
    if (arg.empty())
      continue;
    parse_switches &= (arg != kSwitchTerminator);

    StringType switch_string;
    StringType switch_value;
    std::string switch_name;
    if (parse_switches && IsSwitch(arg, &switch_string, &switch_value) &&
        SwitchNameToKey(switch_string, &switch_name)) {
      command_line->AppendSwitchNative(switch_name, switch_value);
    } else {
      // Includes a switch whose name has no 8-bit form (a lone surrogate):
      // kept as an argument rather than under a mangled name.
      command_line->AppendArgNative(arg);
    }
  }
}

bool NeedsQuoting(const StringType& arg) {
  // A tab separates items for CommandLineToArgvW just as a space does: an
  // unquoted tab would split one item into two, letting a value such as
  // "x<TAB>--switch" smuggle a switch into a child's command line.
  return arg.find_first_of(L" \t\\\"") != npos;
}

// Quotes |arg| so that CommandLineToArgvW gives it back unchanged: inside
// double quotes, backslashes are literal unless a run of them precedes a
// double quote, where 2n backslashes stand for n and 2n+1 escape the quote.
StringType QuoteForCommandLineArg(const StringType& arg) {
  // The splitter drops an empty unquoted item, shifting every later one.
  if (arg.empty())
    return L"\"\"";
  if (!NeedsQuoting(arg))
    return arg;

  StringType out;
  out.reserve(arg.length() + 2);
  out.push_back(L'"');
  for (size_t i = 0; i < arg.length(); ++i) {
    if (arg[i] == L'\\') {
      // Find the extent of this run of backslashes.
      const size_t start = i;
      size_t end = start + 1;
      while (end < arg.length() && arg[end] == L'\\')
        ++end;
      const size_t backslash_count = end - start;

      // A run before a double quote (ours at the end, or an escaped one)
      // is doubled so that it stays literal.
      if (end == arg.length() || arg[end] == L'"')
        out.append(backslash_count, L'\\');
      out.append(backslash_count, L'\\');
      i = end - 1;
    } else if (arg[i] == L'"') {
      out.append(L"\\\"");
    } else {
      out.push_back(arg[i]);
    }
  }
  out.push_back(L'"');
  return out;
}

// The splitter reads the program by a rule of its own: up to the next
// double quote when it begins with one, else up to the first blank, with no
// escapes in either case. False when |program| cannot be written so that it
// comes back unchanged: it holds a double quote and a blank, or begins with
// a double quote (no valid file path does).
bool QuoteProgram(const StringType& program, StringType* out) {
  if (program.find(L'"') != npos) {
    if (program[0] == L'"' || program.find_first_of(L" \t") != npos)
      return false;
    *out = program;
    return true;
  }
  // An empty program written as nothing would make the first switch or
  // argument the program.
  if (program.empty() || NeedsQuoting(program))
    *out = L"\"" + program + L"\"";
  else
    *out = program;
  return true;
}

}  // namespace

CommandLine::CommandLine(NoProgram no_program) : argv_(1), begin_args_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1), begin_args_(1) {
  SetProgram(program);
}

CommandLine::CommandLine(int argc, const CharType* const* argv)
    : argv_(1), begin_args_(1) {
  InitFromArgv(argc, argv);
}

CommandLine::CommandLine(const StringVector& argv) : argv_(1), begin_args_(1) {
  InitFromArgv(argv);
}

CommandLine::CommandLine(const CommandLine& other) = default;

CommandLine& CommandLine::operator=(const CommandLine& other) = default;

CommandLine::~CommandLine() = default;

// static
bool CommandLine::Init() {
  if (g_current_process_commandline)
    return false;
  g_current_process_commandline = new CommandLine(NO_PROGRAM);
  g_current_process_commandline->ParseFromString(::GetCommandLineW());
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() {
  return g_current_process_commandline;
}

void CommandLine::ParseFromString(const StringType& command_line) {
  StringType command_line_string;
  TrimWhitespace(command_line, TRIM_ALL, &command_line_string);
  // CommandLineToArgvW would answer empty text with this executable's path.
  if (command_line_string.empty())
    return;

  int num_args = 0;
  win::ScopedLocalAllocAs<wchar_t**> args(
      ::CommandLineToArgvW(command_line_string.c_str(), &num_args));
  if (!args.is_valid()) {
    InitFromArgv(StringVector());
    return;
  }
  InitFromArgv(num_args, args.get());
}

void CommandLine::InitFromArgv(int argc, const CharType* const* argv) {
  StringVector new_argv;
  for (int i = 0; i < argc; ++i)
    new_argv.push_back(argv[i]);
  InitFromArgv(new_argv);
}

void CommandLine::InitFromArgv(const StringVector& argv) {
  // |argv| may be our own |argv_| (or part of it): keep a copy.
  const StringVector items = argv;
  argv_ = StringVector(1);
  switches_.clear();
  begin_args_ = 1;
  SetProgram(items.empty() ? FilePath() : FilePath(items[0]));
  AppendSwitchesAndArguments(this, items);
}

FilePath CommandLine::GetProgram() const {
  return FilePath(argv_[0]);
}

void CommandLine::SetProgram(const FilePath& program) {
  TrimWhitespace(program.value(), TRIM_ALL, &argv_[0]);
}

bool CommandLine::HasSwitch(const char* switch_string) const {
  return switches_.find(StringPiece(switch_string ? switch_string : "")) !=
         switches_.end();
}

std::string CommandLine::GetSwitchValueASCII(StringPiece switch_string) const {
  const StringType value = GetSwitchValueNative(switch_string);
  if (!IsStringASCII(value))
    return std::string();
  return UTF16ToASCII(value);
}

FilePath CommandLine::GetSwitchValuePath(StringPiece switch_string) const {
  return FilePath(GetSwitchValueNative(switch_string));
}

CommandLine::StringType CommandLine::GetSwitchValueNative(
    StringPiece switch_string) const {
  auto result = switches_.find(switch_string);
  return result == switches_.end() ? StringType() : result->second;
}

CommandLine::StringVector CommandLine::GetArgs() const {
  return StringVector(argv_.begin() + begin_args_, argv_.end());
}

void CommandLine::AppendSwitch(const std::string& switch_string) {
  AppendSwitchNative(switch_string, StringType());
}

void CommandLine::AppendSwitchPath(const std::string& switch_string,
                                   const FilePath& path) {
  AppendSwitchNative(switch_string, path.value());
}

void CommandLine::AppendSwitchNative(const std::string& switch_string,
                                     const StringType& value) {
  // |value| may live in this command line (CopySwitchesFrom(*this, ...)).
  const StringType value_copy = value;
  const std::string switch_key = ToLowerASCII(switch_string);
  // ASCII names widen unit by unit; others are UTF-8 (see SwitchNameToKey).
  StringType combined_switch_string = UTF8ToWide(switch_key);
  const size_t prefix_length = GetSwitchPrefixLength(combined_switch_string);

  switches_[switch_key.substr(prefix_length)] = value_copy;

  // A prefix the caller wrote stays as written.
  if (prefix_length == 0)
    combined_switch_string.insert(0, kSwitchPrefixes[0]);
  // A switch with an empty name keeps its "=" even without a value: a bare
  // "--" would read back as the terminator, a bare "-" or "/" as an argument.
  if (!value_copy.empty() || GetSwitchPrefixLength(combined_switch_string) ==
                                 combined_switch_string.length()) {
    combined_switch_string += kSwitchValueSeparator + value_copy;
  }
  argv_.insert(argv_.begin() + begin_args_, std::move(combined_switch_string));
  ++begin_args_;
}

void CommandLine::AppendSwitchASCII(const std::string& switch_string,
                                    const std::string& value_string) {
  AppendSwitchNative(switch_string, ASCIIToUTF16(value_string));
}

void CommandLine::CopySwitchesFrom(const CommandLine& source,
                                   const char* const switches[],
                                   size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (source.HasSwitch(switches[i]))
      AppendSwitchNative(switches[i], source.GetSwitchValueNative(switches[i]));
  }
}

void CommandLine::AppendArg(const std::string& value) {
  AppendArgNative(UTF8ToWide(value));
}

void CommandLine::AppendArgPath(const FilePath& path) {
  AppendArgNative(path.value());
}

void CommandLine::AppendArgNative(const StringType& value) {
  // An argument that looks like a switch would read back as one; the
  // terminator in front of it keeps it an argument, as it does when parsed.
  if (LooksLikeSwitch(value) &&
      std::find(argv_.begin() + begin_args_, argv_.end(), kSwitchTerminator) ==
          argv_.end()) {
    argv_.push_back(kSwitchTerminator);
  }
  argv_.push_back(value);
}

void CommandLine::AppendArguments(const CommandLine& other,
                                  bool include_program) {
  if (include_program)
    SetProgram(other.GetProgram());
  // |other| may be this command line, which the loop below grows.
  const StringVector other_argv = other.argv_;
  AppendSwitchesAndArguments(this, other_argv);
}

CommandLine::StringType CommandLine::GetCommandLineStringInternal() const {
  if (argv_[0].find(L'\0') != npos)
    return StringType();
  StringType string;
  if (!QuoteProgram(argv_[0], &string))
    return StringType();
  const StringType arguments = GetArgumentsStringInternal();
  // With items behind the program, empty text means they were refused.
  if (arguments.empty() && argv_.size() > 1)
    return StringType();
  if (!arguments.empty())
    string.append(L" ").append(arguments);
  return string;
}

CommandLine::StringType CommandLine::GetArgumentsStringInternal() const {
  // A NUL would end the text early, silently dropping what follows.
  for (size_t i = 1; i < argv_.size(); ++i) {
    if (argv_[i].find(L'\0') != npos)
      return StringType();
  }
  StringType string;
  bool parse_switches = true;
  for (size_t i = 1; i < argv_.size(); ++i) {
    const StringType& arg = argv_[i];
    parse_switches &= (arg != kSwitchTerminator);
    if (i > 1)
      string.append(L" ");

    StringType switch_string;
    StringType switch_value;
    // A switch name is written bare, but only when it is a single item for
    // the splitter: a name with a blank or a double quote (an argument that
    // merely looks like a switch) is quoted whole like any argument.
    if (parse_switches && IsSwitch(arg, &switch_string, &switch_value) &&
        switch_string.find_first_of(L" \t\"") == npos) {
      string.append(switch_string);
      if (!switch_value.empty()) {
        string.append(kSwitchValueSeparator);
        string.append(QuoteForCommandLineArg(switch_value));
      } else if (GetSwitchPrefixLength(switch_string) ==
                 switch_string.length()) {
        // An empty name: "--" alone would be the terminator.
        string.append(kSwitchValueSeparator);
      }
    } else {
      string.append(QuoteForCommandLineArg(arg));
    }
  }
  return string;
}

}  // namespace base
