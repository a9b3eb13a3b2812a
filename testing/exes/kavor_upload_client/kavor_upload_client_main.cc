// Builds a crash upload body of a named case with the crash reporter's own
// multipart builder and sends it to a server, or writes the chunked framing
// the transport would give it into a file, for the end-to-end upload tests.
//
//   kavor_upload_client --case=NAME --dir=FOLDER [--gzip] --url=URL
//       posts the body with the transport, its length measured first (the
//       body is made twice from the same builder, its files rewound)
//   kavor_upload_client --case=NAME --dir=FOLDER [--gzip] --chunked-to=FILE
//       writes the body in chunked transfer coding to FILE
//
// The files of the case are made in FOLDER. Cases: "escaping" (names, file
// name and values with quotes, CR, LF, "%" and non-ASCII UTF-8), "boundary"
// (two fields; a second builder's boundary too), "empty-file", "replace" (a
// field replaced by a file under its name, and a file by a field), "large"
// (a file of 6 MiB and a bit, streamed).
//
// What it sent, one line each on standard output (NAME, VALUE and FILENAME
// in hexadecimal, unescaped, as given to the builder):
//   boundary B                 other-boundary B   (case "boundary")
//   header NAME: VALUE         the request's own headers
//   field NAME VALUE
//   file NAME FILENAME CONTENT_TYPE BASENAME   (the file in FOLDER)
//   replaced NAME              a name set once as the other kind
//   length N                   the body's bytes as sent
//   peak-growth N              growth of the peak private bytes while the
//                              body was made and sent
//   response TEXT              the server's answer (posting)
//   written N                  the bytes of the framing file (chunked)
// Exit codes: 0 sent, 1 the transport or a stream failed, 2 bad command
// line, 3 a file of the case could not be made or opened.

#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_path.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "crash/util/file/file_reader.h"
#include "crash/util/net/http_body.h"
#include "crash/util/net/http_multipart_builder.h"
#include "crash/util/net/http_transport.h"
#include "crash/util/net/http_transport_win.h"

namespace {

using crash_reporter::FileReader;
using crash_reporter::HTTPBodyStream;
using crash_reporter::HTTPHeaders;
using crash_reporter::HTTPMultipartBuilder;

constexpr int kExitSent = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoFile = 3;

// Not a multiple of any piece size on the way: the last pieces are short.
constexpr uint64_t kLargeFileSize = 6 * 1024 * 1024 + 1234;
constexpr size_t kPieceSize = 64 * 1024;

void Print(const std::string& line) {
  std::string text = line + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
              static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Hex(const std::string& bytes) {
  // An empty string is "-", so that every line keeps its word count.
  return bytes.empty() ? "-" : base::HexEncode(bytes.data(), bytes.size());
}

uint64_t PeakPrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters,
                              sizeof(counters)))
    return 0;
  return counters.PeakPagefileUsage;
}

// Writes |size| bytes of a fixed pseudo-random sequence, a piece at a time.
bool WriteFileOfSize(const base::FilePath& path,
                     uint64_t size,
                     const std::string& fill) {
  HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  std::vector<uint8_t> piece(kPieceSize);
  uint32_t state = 0x9E3779B9u;
  uint64_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const size_t now =
        left < piece.size() ? static_cast<size_t>(left) : piece.size();
    for (size_t i = 0; i < now; ++i) {
      if (!fill.empty()) {
        piece[i] = static_cast<uint8_t>(fill[(size - left + i) % fill.size()]);
        continue;
      }
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      piece[i] = static_cast<uint8_t>(state >> 24);
    }
    DWORD written = 0;
    ok = ::WriteFile(file, piece.data(), static_cast<DWORD>(now), &written,
                     nullptr) &&
         written == now;
    left -= now;
  }
  return ::CloseHandle(file) && ok;
}

// One case: the builder, the files it borrows and what the lines say.
class Case {
 public:
  explicit Case(const base::FilePath& dir) : dir_(dir) {}

  HTTPMultipartBuilder& builder() { return builder_; }

  void Field(const std::string& name, const std::string& value) {
    builder_.SetFormData(name, value);
    Expect(name, "field " + Hex(name) + " " + Hex(value));
  }

  // Makes the file |base_name| in the folder (|size| bytes, |fill| repeated
  // or pseudo-random bytes when |fill| is empty) and attaches it.
  bool File(const std::string& name,
            const std::string& file_name,
            const std::string& content_type,
            const wchar_t* base_name,
            uint64_t size,
            const std::string& fill) {
    const base::FilePath path = dir_.Append(base_name);
    if (!WriteFileOfSize(path, size, fill))
      return false;
    readers_.push_back(std::make_unique<FileReader>());
    if (!readers_.back()->Open(path))
      return false;
    builder_.SetFileAttachment(name, file_name, readers_.back().get(),
                               content_type);
    Expect(name, "file " + Hex(name) + " " + Hex(file_name) + " " +
                     (content_type.empty() ? "application/octet-stream"
                                           : content_type) +
                     " " + base::WideToUTF8(base_name));
    return true;
  }

  void Note(const std::string& line) { lines_.push_back(line); }

  const std::vector<std::string>& lines() const { return lines_; }

 private:
  // A name holds one part: what was set under it before is no longer
  // expected.
  void Expect(const std::string& name, const std::string& line) {
    const std::string word = " " + Hex(name) + " ";
    std::vector<std::string> kept;
    for (const std::string& old : lines_) {
      if (old.compare(old.find(' '), word.size(), word) != 0)
        kept.push_back(old);
    }
    if (kept.size() != lines_.size())
      kept.push_back("replaced " + Hex(name));
    kept.push_back(line);
    lines_ = kept;
  }

  const base::FilePath dir_;
  HTTPMultipartBuilder builder_;
  std::vector<std::unique_ptr<FileReader>> readers_;
  std::vector<std::string> lines_;
};

std::string AllBytes() {
  std::string bytes;
  for (int i = 0; i < 256; ++i)
    bytes.push_back(static_cast<char>(i));
  return bytes;
}

bool MakeCase(const std::string& name, Case* c) {
  if (name == "escaping") {
    c->Field("quote\"name", "say \"hi\"");
    c->Field("line\r\nbreak\rname\n", "first\r\nsecond\nthird\r");
    c->Field("per%cent", "100% sure %22 %0d");
    c->Field(
        "\xC3\xBCn\xC3\xAF"
        "code-\xE5\x90\x8D\xE5\x89\x8D",
        "\xD0\xB7\xD0\xBD\xD0\xB0\xD1\x87\xD0\xB5\xD0\xBD\xD0\xB8\xD0\xB5 "
        "\xE2\x9C\x93");
    c->Field("empty-value", "");
    return c->File("upload_file_minidump", "dump \"1\"%\r\n\xC3\xA9.dmp",
                   "application/octet-stream", L"escaping.bin", 256 * 3,
                   AllBytes());
  }
  if (name == "boundary") {
    c->Field("a", "1");
    c->Field("b", "2");
    HTTPMultipartBuilder other;
    c->Note("other-boundary " + other.boundary());
    return true;
  }
  if (name == "empty-file") {
    c->Field("prod", "KavorDesktop");
    return c->File("empty", "empty.dmp", "", L"empty.bin", 0, "") &&
           c->File("text", "notes.txt", "text/plain", L"notes.txt", 11,
                   "hello\r\n");
  }
  if (name == "replace") {
    c->Field("upload_file_minidump", "a field first");
    if (!c->File("upload_file_minidump", "replace.dmp",
                 "application/octet-stream", L"replace.bin", 4096, "") ||
        !c->File("note", "note.txt", "text/plain", L"note.txt", 5, "abc"))
      return false;
    c->Field("note", "the field wins");
    return true;
  }
  if (name == "large") {
    c->Field("prod", "KavorDesktop");
    return c->File("upload_file_minidump", "large.dmp",
                   "application/octet-stream", L"large.bin", kLargeFileSize,
                   "");
  }
  return false;
}

int Post(Case* c, const std::string& url) {
  HTTPMultipartBuilder& builder = c->builder();
  int64_t length = 0;
  std::unique_ptr<HTTPBodyStream> body =
      builder.GetBodyStreamWithLength(&length);
  if (!body) {
    Print("failed to measure the body");
    return kExitFailed;
  }
  HTTPHeaders headers;
  builder.PopulateContentHeaders(&headers);
  headers["Content-Length"] = base::Int64ToString(length);

  std::unique_ptr<crash_reporter::HTTPTransport> transport =
      crash_reporter::HTTPTransport::Create();
  transport->SetURL(url);
  transport->SetMethod("POST");
  for (const auto& header : headers) {
    transport->SetHeader(header.first, header.second);
    Print("header " + header.first + ": " + header.second);
  }
  transport->SetBodyStream(std::move(body));
  Print("length " + base::Int64ToString(length));
  std::string response;
  if (!transport->ExecuteSynchronously(&response)) {
    Print("failed");
    return kExitFailed;
  }
  Print("response " + response);
  return kExitSent;
}

int WriteChunked(Case* c, const base::FilePath& path) {
  HANDLE file = ::CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return kExitNoFile;
  HTTPHeaders headers;
  c->builder().PopulateContentHeaders(&headers);
  for (const auto& header : headers)
    Print("header " + header.first + ": " + header.second);
  uint64_t written_total = 0;
  const bool sent = crash_reporter::internal::SendBody(
      c->builder().GetBodyStream().get(), true,
      [file, &written_total](const void* data, size_t size) {
        DWORD written = 0;
        if (!::WriteFile(file, data, static_cast<DWORD>(size), &written,
                         nullptr) ||
            written != size)
          return false;
        written_total += written;
        return true;
      });
  const bool closed = ::CloseHandle(file);
  if (!sent || !closed) {
    Print("failed");
    return kExitFailed;
  }
  Print("written " + base::Uint64ToString(written_total));
  return kExitSent;
}

bool StartsWith(const std::wstring& text,
                const wchar_t* prefix,
                std::wstring* rest) {
  const size_t length = wcslen(prefix);
  if (text.compare(0, length, prefix) != 0)
    return false;
  *rest = text.substr(length);
  return true;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (!argv)
    return kExitUsage;
  std::wstring case_name, dir, url, chunked_to, value;
  bool gzip = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (StartsWith(arg, L"--case=", &value))
      case_name = value;
    else if (StartsWith(arg, L"--dir=", &value))
      dir = value;
    else if (StartsWith(arg, L"--url=", &value))
      url = value;
    else if (StartsWith(arg, L"--chunked-to=", &value))
      chunked_to = value;
    else if (arg == L"--gzip")
      gzip = true;
    else
      return kExitUsage;
  }
  if (case_name.empty() || dir.empty() || url.empty() == chunked_to.empty())
    return kExitUsage;

  const uint64_t peak_before = PeakPrivateBytes();
  Case c{base::FilePath(dir)};
  c.builder().SetGzipEnabled(gzip);
  if (!MakeCase(base::WideToUTF8(case_name), &c))
    return kExitNoFile;
  Print("boundary " + c.builder().boundary());
  for (const std::string& line : c.lines())
    Print(line);

  // The case's files are written before the body is made: what the peak
  // grows by from here is the body's doing.
  const uint64_t peak_files = PeakPrivateBytes();
  const int result = url.empty() ? WriteChunked(&c, base::FilePath(chunked_to))
                                 : Post(&c, base::WideToUTF8(url));
  const uint64_t peak_after = PeakPrivateBytes();
  if (peak_before && peak_after)
    Print("peak-growth " + base::Uint64ToString(peak_after - peak_files));
  return result;
}
