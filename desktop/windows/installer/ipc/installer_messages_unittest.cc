#include "desktop/windows/installer/ipc/installer_messages.h"

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_log_lines.h"
#include "desktop/windows/installer/ipc/installer_message_recorder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using MessageFactory = std::function<std::unique_ptr<base::Pickle>()>;

// The wire form written out by hand, independently of Pickle.
class Bytes {
 public:
  Bytes& Int(int32_t value) {
    const char* p = reinterpret_cast<const char*>(&value);
    bytes_.append(p, 4);
    return *this;
  }
  Bytes& Text(const std::string& text) {
    Int(static_cast<int32_t>(text.size()));
    bytes_ += text;
    Pad();
    return *this;
  }
  Bytes& Text16(const base::string16& text) {
    Int(static_cast<int32_t>(text.size()));
    for (wchar_t unit : text) {
      bytes_ += static_cast<char>(unit & 0xFF);
      bytes_ += static_cast<char>(unit >> 8);
    }
    Pad();
    return *this;
  }
  const std::string& payload() const { return bytes_; }

 private:
  void Pad() {
    while (bytes_.size() % 4)
      bytes_ += '\0';
  }
  std::string bytes_;
};

// The signature's length and text with its one padding byte.
std::string SignedHead() {
  return Bytes().Int(19).payload() + std::string(":Installer message:\0", 20);
}

// A whole message: the payload's size in front of it.
std::string WithHeader(const std::string& payload) {
  return Bytes().Int(static_cast<int32_t>(payload.size())).payload() + payload;
}

// Each type's bytes, and the calls the reader makes of them: installer
// observers, the progress notifier, or both.
TEST(InstallerMessagesTest, EachTypeHasItsLayoutAndReceivers) {
  struct {
    MessageFactory make;
    Bytes args;  // Type and arguments.
    std::vector<std::string> calls;
  } cases[] = {
      {[] { return CreateStartingNewMainProcessMessage(true); },
       Bytes().Int(0).Int(1),
       {"OnStartingNewMainProcess(1)"}},
      {[] { return CreateStartingNewMainProcessMessage(false); },
       Bytes().Int(0).Int(0),
       {"OnStartingNewMainProcess(0)"}},
      {[] { return CreateReturnedToPreviousMainProcessMessage(); },
       Bytes().Int(1),
       {"OnReturnedToPreviousMainProcess()"}},
      {[] { return CreateInstallFolderReadyMessage(); },
       Bytes().Int(2),
       {"OnInstallFolderReady()"}},
      {[] { return CreateTotalStepsMessage(-7); },
       Bytes().Int(3).Int(-7),
       {"notifier.OnTotalSteps(-7)"}},
      {[] { return CreateStepStartingMessage("copy"); },
       Bytes().Int(4).Text("copy"),
       {"OnStepStarting(copy)"}},
      {[] { return CreateStepFinishedMessage("unpack", 2, 31); },
       Bytes().Int(5).Text("unpack").Int(2).Int(31),
       {"OnStepFinished(unpack,2,31)", "notifier.OnStepFinished(31)"}},
      {[] { return CreateImportantEventMessage("file_copy_retry"); },
       Bytes().Int(6).Text("file_copy_retry"),
       {"OnImportantEvent(file_copy_retry)"}},
      {[] { return CreateErrorMessage(9, L"C:\\a b", "no \xC3\xA9"); },
       Bytes().Int(7).Int(9).Text16(L"C:\\a b").Text("no \xC3\xA9"),
       {"OnError(9,C:\\a b,no \xC3\xA9)"}},
      {[] { return CreateErrorMessage(3, base::string16(), std::string()); },
       Bytes().Int(7).Int(3).Int(0).Int(0),
       {"OnError(3,,)"}},
      {[] { return CreateSuccessMessage(); }, Bytes().Int(8), {"OnSuccess()"}},
      {[] { return CreateEnteringPhaseMessage(4); },
       Bytes().Int(9).Int(4),
       {"notifier.OnEnteringPhase(4)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.calls.front());
    auto message = c.make();
    EXPECT_EQ(WithHeader(SignedHead() + c.args.payload()),
              std::string(static_cast<const char*>(message->data()),
                          message->size()));
    MessageRecorder recorder;
    recorder.Dispatch(*message);
    EXPECT_EQ(c.calls, recorder.calls());
    // A newer writer's trailing fields are ignored.
    message->WriteInt(77);
    message->WriteString("newer");
    MessageRecorder extended_recorder;
    extended_recorder.Dispatch(*message);
    EXPECT_EQ(c.calls, extended_recorder.calls());
  }
}

// The reader's rules for what other writers send: a malformed message
// dispatches nothing; an older backend's step-finished message counts 0.
TEST(InstallerMessagesTest, ReaderRules) {
  const std::string head = SignedHead();
  struct {
    const char* what;
    std::string payload;
    const char* log;  // Empty: nothing logged.
    std::vector<std::string> calls;
  } cases[] = {
      {"no signature", "", "Received a message without installer signature"},
      {"lower-case signature",
       Bytes().Text(":installer message:").Int(8).payload(),
       "Received a message without installer signature"},
      {"other signature", Bytes().Text(":Installer message").Int(8).payload(),
       "Received a message without installer signature"},
      {"no type", head, ""},
      {"type -1", head + Bytes().Int(-1).payload(),
       "Received installer message with invalid type"},
      {"type 10", head + Bytes().Int(10).payload(),
       "Received installer message with invalid type"},
      {"lowest type", head + Bytes().Int(INT32_MIN).Int(1).payload(),
       "Received installer message with invalid type"},
      {"highest type", head + Bytes().Int(INT32_MAX).Int(1).payload(),
       "Received installer message with invalid type"},
      {"type 0 without flag", head + Bytes().Int(0).payload(),
       "Received invalid IPC_MESSAGE_STARTING_NEW_MAIN_PROCESSmessage"},
      {"type 3 without total", head + Bytes().Int(3).payload(),
       "Received invalid IPC_MESSAGE_TOTAL_STEPS message"},
      {"type 4 with a name past the end",
       head + Bytes().Int(4).Int(9).Int(0).payload(),
       "Received invalid IPC_MESSAGE_STEP_STARTINGmessage"},
      {"type 5 without attempt", head + Bytes().Int(5).Text("copy").payload(),
       "Received invalid IPC_MESSAGE_STEP_FINISHEDmessage"},
      {"type 5 without count",
       head + Bytes().Int(5).Text("a").Int(2).payload(),
       "The package uses legacy IPC_MESSAGE_STEP_FINISHED",
       {"OnStepFinished(a,2,0)", "notifier.OnStepFinished(0)"}},
      {"type 6 without name", head + Bytes().Int(6).payload(),
       "Received invalid IPC_MESSAGE_IMPORTANT_EVENT message"},
      {"type 7 without text",
       head + Bytes().Int(7).Int(1).Text16(L"p").payload(),
       "Received invalid IPC_MESSAGE_ERROR message"},
      {"type 9 without phase", head + Bytes().Int(9).payload(),
       "Received invalid IPC_MESSAGE_ENTERING_PHASE message"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    base::ScopedLogLines lines(base::logging::LOG_WARNING,
                               base::logging::LOG_ERROR);
    const std::string bytes = WithHeader(c.payload);
    MessageRecorder recorder;
    recorder.Dispatch(
        base::Pickle(bytes.data(), static_cast<int>(bytes.size())));
    EXPECT_EQ(c.calls, recorder.calls());
    if (*c.log)
      EXPECT_NE(std::string::npos, lines.text().find(c.log));
    else
      EXPECT_EQ("", lines.text());
  }
}

// |bytes| bytes of two-byte characters ("é"), an odd count ending in "x":
// a cut at a given byte may fall inside a character.
std::string Accented(size_t bytes) {
  std::string text;
  while (text.size() + 2 <= bytes)
    text += "\xC3\xA9";
  if (text.size() < bytes)
    text += 'x';
  return text;
}

TEST(InstallerMessagesTest, OversizedTextsAreCutToFit) {
  // 2048 less the 32 fixed bytes and the name's length field.
  const size_t kStepStartingRoom = 2012;
  struct {
    const char* what;
    std::string name;
    size_t sent_size;
  } cases[] = {
      {"fits exactly", std::string(kStepStartingRoom, 'a'), kStepStartingRoom},
      {"one byte over", std::string(kStepStartingRoom + 1, 'a'),
       kStepStartingRoom},
      // After the "x", 1005 characters fit; the next would straddle the end.
      {"cut before a character", "x" + Accented(4000), kStepStartingRoom - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    base::ScopedLogLines lines(base::logging::LOG_WARNING,
                               base::logging::LOG_ERROR);
    auto message = CreateStepStartingMessage(c.name);
    EXPECT_LE(message->size(), kMaxInstallerMessageSize);
    MessageRecorder recorder;
    recorder.Dispatch(*message);
    const auto calls = recorder.calls();
    ASSERT_EQ(1u, calls.size());
    // Compared whole, but not printed: the texts run to kilobytes.
    EXPECT_TRUE(calls[0] ==
                "OnStepStarting(" + c.name.substr(0, c.sent_size) + ")")
        << "sent " << calls[0].size() - strlen("OnStepStarting()") << " bytes";
  }
}

TEST(InstallerMessagesTest, OversizedErrorKeepsPartOfBothTexts) {
  // Path units and text bytes given, then sent. The two share 2004 bytes;
  // the text keeps up to half of them, and more when the path is short.
  const size_t kCases[][4] = {
      {3000, 40, 982, 40}, {3000, 5000, 502, 1000}, {20, 5000, 20, 1964}};
  for (const auto& c : kCases) {
    base::ScopedLogLines lines(base::logging::LOG_WARNING,
                               base::logging::LOG_ERROR);
    const std::string text = Accented(c[1]);
    MessageRecorder recorder;
    recorder.Dispatch(*CreateErrorMessage(5, base::string16(c[0], L'p'), text));
    const std::string expected = "OnError(5," + std::string(c[2], 'p') + "," +
                                 text.substr(0, c[3]) + ")";
    EXPECT_TRUE(recorder.calls() == std::vector<std::string>({expected}))
        << c[0] << " path units, " << c[1] << " text bytes";
  }
}

// The step name is the only text of a step-finished message; the attempt
// and the count behind it must still fit.
TEST(InstallerMessagesTest, OversizedStepFinishedKeepsItsNumbers) {
  // 2048 less the 32 fixed bytes, the name's length field and two ints.
  const size_t kRoom = 2004;
  for (size_t size : {kRoom, kRoom + 1, size_t{5000}}) {
    base::ScopedLogLines lines(base::logging::LOG_WARNING,
                               base::logging::LOG_ERROR);
    const std::string name(size, 's');
    auto message = CreateStepFinishedMessage(name, 3, 17);
    EXPECT_LE(message->size(), kMaxInstallerMessageSize) << size;
    MessageRecorder recorder;
    recorder.Dispatch(*message);
    const std::vector<std::string> expected = {
        "OnStepFinished(" + std::string(std::min(size, kRoom), 's') + ",3,17)",
        "notifier.OnStepFinished(17)"};
    EXPECT_TRUE(recorder.calls() == expected) << size << " name bytes";
  }
}

// Around the limit, for even and odd path lengths (an odd one leaves two
// padding bytes) and every text length modulo 4: the message fits, each
// text arrives as a prefix of what was given, and texts that fit with their
// padding are sent whole.
TEST(InstallerMessagesTest, ErrorMessageFitsWithItsPadding) {
  // The room both texts share, with their padding.
  const size_t kRoom = 2004;
  auto padded = [](size_t n) { return (n + 3) / 4 * 4; };
  for (size_t units = 996; units <= 1003; ++units) {
    for (size_t bytes = 0; bytes <= 9; ++bytes) {
      base::ScopedLogLines lines(base::logging::LOG_WARNING,
                                 base::logging::LOG_ERROR);
      const base::string16 path(units, L'p');
      const std::string text(bytes, 't');
      auto message = CreateErrorMessage(2, path, text);
      const std::string where = std::to_string(units) + " path units, " +
                                std::to_string(bytes) + " text bytes";
      EXPECT_LE(message->size(), kMaxInstallerMessageSize) << where;

      base::PickleIterator iter(*message);
      std::string signature;
      int type, code;
      base::string16 sent_path;
      std::string sent_text;
      ASSERT_TRUE(iter.ReadString(&signature) && iter.ReadInt(&type) &&
                  iter.ReadInt(&code) && iter.ReadString16(&sent_path) &&
                  iter.ReadString(&sent_text))
          << where;
      EXPECT_EQ(0u, path.compare(0, sent_path.size(), sent_path)) << where;
      EXPECT_EQ(0u, text.compare(0, sent_text.size(), sent_text)) << where;
      if (padded(2 * units) + padded(bytes) <= kRoom) {
        EXPECT_EQ(units, sent_path.size()) << where;
        EXPECT_EQ(bytes, sent_text.size()) << where;
      }
    }
  }
}

// A path cut to fit never ends in the first half of a surrogate pair, which
// would reach the front end as a broken character.
TEST(InstallerMessagesTest, OversizedErrorPathKeepsSurrogatePairsWhole) {
  // With a 40-byte text the path keeps (2004 - 40) / 2 = 982 units; after
  // one plain unit, the 982nd is the first half of a pair.
  const base::string16 kFace = L"\xD83D\xDE00";  // U+1F600.
  const std::string kFaceUtf8 = "\xF0\x9F\x98\x80";
  const struct {
    const wchar_t* lead;
    size_t sent_pairs;
  } kCases[] = {{L"", 491}, {L"p", 490}};
  const std::string text(40, 't');
  for (const auto& c : kCases) {
    base::ScopedLogLines lines(base::logging::LOG_WARNING,
                               base::logging::LOG_ERROR);
    base::string16 path = c.lead;
    for (int i = 0; i < 1500; ++i)
      path += kFace;
    MessageRecorder recorder;
    recorder.Dispatch(*CreateErrorMessage(5, path, text));
    std::string expected_path = base::UTF16ToUTF8(c.lead);
    for (size_t i = 0; i < c.sent_pairs; ++i)
      expected_path += kFaceUtf8;
    EXPECT_TRUE(recorder.calls() ==
                std::vector<std::string>(
                    {"OnError(5," + expected_path + "," + text + ")"}))
        << "lead \"" << base::UTF16ToUTF8(c.lead) << "\": the path was cut "
        << "elsewhere than before the pair that straddles the limit";
  }
}

}  // namespace
}  // namespace installer
