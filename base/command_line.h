#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

// CommandLine is the parsed form of a process command line: the program,
// the switches with their values, and the plain arguments. The process-wide
// instance holds the configuration of this process; other instances build
// the command lines of child processes.
//
// Syntax: a switch is an item that begins with "--", "-" or "/" and holds
// more than that prefix; its name is lower-cased, and a value follows the
// first "=". A lone "--" ends the switches: it and every item behind it are
// arguments. Switch names are given to the queries in lower case and without
// prefix; the lookups do no case folding.
//
// Writing back quotes each item so that CommandLineToArgvW (the system's
// splitter) turns the text back into the same arguments and switch values,
// and parsing the text again gives the same program, switches and
// arguments. Switch names other than ASCII are held as UTF-8.

#include <stddef.h>

#include <map>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_piece.h"

namespace base {

class CommandLine {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;
  using StringVector = std::vector<StringType>;
  // Switch names (lower case, no prefix) to values, in byte-wise order of
  // the names. Lookups take a StringPiece without building a string.
  using SwitchMap = std::map<std::string, StringType, StringPieceLess>;

  // A command line with an empty program, no switches and no arguments.
  enum NoProgram { NO_PROGRAM };
  explicit CommandLine(NoProgram no_program);
  explicit CommandLine(const FilePath& program);
  // Parses |argv|; item 0 is the program.
  CommandLine(int argc, const CharType* const* argv);
  explicit CommandLine(const StringVector& argv);

  CommandLine(const CommandLine& other);
  CommandLine& operator=(const CommandLine& other);
  ~CommandLine();

  // Creates the process-wide instance from GetCommandLineW. Returns false,
  // changing nothing, when it exists already. Call once, on the thread that
  // starts the process, before any other thread exists.
  static bool Init();
  // The process-wide instance; null before Init. It is never replaced or
  // destroyed.
  static CommandLine* ForCurrentProcess();

  // Parses a whole command-line text with the system's splitter. Text that
  // is empty after trimming white space changes nothing.
  void ParseFromString(const StringType& command_line);
  // Replaces everything with the parse of |argv|; item 0 is the program.
  void InitFromArgv(int argc, const CharType* const* argv);
  void InitFromArgv(const StringVector& argv);

  FilePath GetProgram() const;
  // The program's text with white space trimmed at both ends.
  void SetProgram(const FilePath& program);

  // |switch_string| is lower case and without prefix; null is "".
  bool HasSwitch(const char* switch_string) const;
  bool HasSwitch(const std::string& switch_string) const {
    return HasSwitch(switch_string.c_str());
  }
  // Empty when the switch is absent or its value is not pure ASCII.
  std::string GetSwitchValueASCII(StringPiece switch_string) const;
  FilePath GetSwitchValuePath(StringPiece switch_string) const;
  // Empty when the switch is absent.
  StringType GetSwitchValueNative(StringPiece switch_string) const;

  const SwitchMap& GetSwitches() const { return switches_; }
  // All items: the program, the switches in their written form, then the
  // arguments.
  const StringVector& argv() const { return argv_; }
  // The arguments: the items behind the switches.
  StringVector GetArgs() const;

  // The name may carry a prefix ("--", "-", "/"); without one, "--" is
  // written. Switches always stand before the arguments, in the order in
  // which they were added; a repeated switch keeps both items and the map
  // the newest value.
  void AppendSwitch(const std::string& switch_string);
  void AppendSwitchPath(const std::string& switch_string, const FilePath& path);
  void AppendSwitchNative(const std::string& switch_string,
                          const StringType& value);
  void AppendSwitchASCII(const std::string& switch_string,
                         const std::string& value_string);
  // Copies each switch of |switches| that |source| has, with its value.
  void CopySwitchesFrom(const CommandLine& source,
                        const char* const switches[],
                        size_t count);

  // Arguments go behind every switch, unchanged. AppendArg takes UTF-8.
  // An argument that looks like a switch gets the terminator "--" in front
  // of it (unless the arguments hold one already), so that it reads back as
  // an argument.
  void AppendArg(const std::string& value);
  void AppendArgPath(const FilePath& value);
  void AppendArgNative(const StringType& value);
  // Parses the items of |other| again and adds its switches and arguments;
  // a switch present in both takes |other|'s value. With |include_program|,
  // the program is taken from |other| too.
  void AppendArguments(const CommandLine& other, bool include_program);

  // The whole command line as one text, quoted for CommandLineToArgvW.
  // Empty when an item cannot be written so that it reads back unchanged:
  // it holds a NUL, or the program holds a double quote and a blank or
  // begins with one (no valid file path does). The arguments string is
  // likewise empty when an argument or switch holds a NUL.
  StringType GetCommandLineString() const {
    return GetCommandLineStringInternal();
  }
  // The items behind the program as one text, quoted the same way.
  StringType GetArgumentsString() const { return GetArgumentsStringInternal(); }

  StringType GetCommandLineStringInternal() const;
  StringType GetArgumentsStringInternal() const;

 private:
  // The items: the program, the switches as written, then the arguments.
  StringVector argv_;
  SwitchMap switches_;
  // Index in |argv_| of the first argument.
  size_t begin_args_;
};

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
