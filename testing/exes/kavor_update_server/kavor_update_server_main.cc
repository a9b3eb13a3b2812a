// The stand-in update service of end-to-end tests: the loopback HTTP server
// of the unit tests as a program of its own, started under Wine beside the
// installer and ended by killing it.
//
//   kavor_update_server.exe --root=DIR --port-file=FILE [--log=FILE]
//                           [--script=FILE]
//
// Every regular file under DIR is served at "/" followed by its path
// relative to DIR with "/" separators, read from disk while it is sent (a
// package of hundreds of megabytes is never held in memory), with ranges
// ("Range: bytes=N-") honoured, whatever query a target adds to the path.
// Files added to DIR later are not served. Other targets get 404.
//
// The server listens on 127.0.0.1 at a port the system picks and writes it,
// in decimal, to FILE (through FILE.new, renamed, so that a reader never
// sees half of it). With --log, every request is appended to the log as one
// line of JSON, before it is answered:
//   {"request_line":"GET /a HTTP/1.1","method":"GET","target":"/a",
//    "headers":{"Host":"127.0.0.1:4000","Range":"bytes=5-"},"body":""}
// Repeated headers are joined with ", ". A body that is not UTF-8 is given
// as "body_base64" instead of "body".
//
// The script file scripts the answers of targets, one answer per line:
//   TARGET STATUS [KEY=VALUE | FLAG]...
// The lines of one target are its answers in turn; the last one repeats.
// Blank lines and lines starting with "#" are skipped. Keys and flags:
//   body=TEXT          the body; "\s", "\t", "\r", "\n" and "\\" stand for
//                      a space, a tab, CR, LF and a backslash
//   body_file=PATH     the body is this file (relative paths are under DIR)
//   bytes=SIZE[:SEED]  the body is SIZE bytes of reproducible test data
//   raw=TEXT           sent verbatim instead of a built answer (escapes as
//                      for body=)
//   location=URL       a Location header
//   header=NAME:VALUE  a further header (escapes as for body=), repeatable
//   close_after=N      close the connection after N bytes of the body
//   reset_after=N      reset the connection after N bytes of the body
//   stall_after=N      after N bytes of the body send nothing more, and keep
//                      the connection open until the client goes
//   trickle=BYTES/MS   send the body in pieces of BYTES, MS apart
//   silent             take the request and never answer (the connection is
//                      kept as with stall_after)
//   hold_until=PATH    send nothing until the file PATH (a Windows path)
//                      exists ...
//   hold_after=N       ... or, from offset N of the body on, send a byte
//                      every half second until then
//   no_length          no Content-Length header
//   ignore_range       a 200 answers ranges with the whole body
// A 200 without body=, body_file= or bytes= has the body of the file at
// TARGET under DIR when there is one, so that "/p.7z 503" followed by
// "/p.7z 200" serves the file after one failure.
//
// Exit codes: 2 for bad switches or a bad script line (named on standard
// error), 3 when the server cannot start or the port file cannot be
// written. Otherwise it runs until it is killed.

#include <windows.h>

#include <stdio.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/base64.h"
#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/string_escape.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/test/loopback_http_server.h"

namespace {

const int kExitBadUsage = 2;
const int kExitCannotServe = 3;

using Response = base::LoopbackHttpServer::Response;

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    switch (text[++i]) {
      case 's':
        out.push_back(' ');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 'n':
        out.push_back('\n');
        break;
      default:
        out.push_back(text[i]);
        break;
    }
  }
  return out;
}

std::vector<std::string> SplitWords(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start < line.size()) {
    start = line.find_first_not_of(" \t\r", start);
    if (start == std::string::npos)
      break;
    size_t end = line.find_first_of(" \t\r", start);
    if (end == std::string::npos)
      end = line.size();
    words.push_back(line.substr(start, end - start));
    start = end;
  }
  return words;
}

// The files under |root|, by target.
std::map<std::string, std::wstring> ListFiles(const base::FilePath& root) {
  std::map<std::string, std::wstring> files;
  base::FileEnumerator enumerator(root, true, base::FileEnumerator::FILES);
  for (base::FilePath path = enumerator.Next(); !path.empty();
       path = enumerator.Next()) {
    base::FilePath relative;
    if (!root.AppendRelativePath(path, &relative))
      continue;
    std::string target = "/" + base::WideToUTF8(relative.value());
    base::ReplaceChars(target, "\\", "/", &target);
    files[target] = path.value();
  }
  return files;
}

// Parses one script line into |target| and |response|; false with |error|
// set for a line that cannot be understood.
bool ParseScriptLine(const std::string& line,
                     const base::FilePath& root,
                     const std::map<std::string, std::wstring>& files,
                     std::string* target,
                     Response* response,
                     std::string* error) {
  const std::vector<std::string> words = SplitWords(line);
  int status = 0;
  if (words.size() < 2 || words[0].empty() || words[0][0] != '/' ||
      !base::StringToInt(words[1], &status) || status < 100 || status > 999) {
    *error = "expected TARGET STATUS";
    return false;
  }
  *target = words[0];
  response->status = status;
  bool has_body = false;
  for (size_t i = 2; i < words.size(); ++i) {
    const std::string& word = words[i];
    const size_t equals = word.find('=');
    const std::string key = word.substr(0, equals);
    const std::string value =
        equals == std::string::npos ? std::string() : word.substr(equals + 1);
    const bool has_value = equals != std::string::npos;
    size_t number = 0;
    if (key == "no_length" && !has_value) {
      response->content_length = false;
    } else if (key == "ignore_range" && !has_value) {
      response->honour_range = false;
    } else if (key == "body" && has_value) {
      response->body = Unescape(value);
      has_body = true;
    } else if (key == "raw" && has_value && !value.empty()) {
      response->raw = Unescape(value);
    } else if (key == "body_file" && has_value && !value.empty()) {
      const base::FilePath path(base::UTF8ToWide(value));
      response->body_file =
          path.IsAbsolute() ? path.value() : root.Append(path).value();
      has_body = true;
    } else if (key == "bytes" && has_value) {
      const size_t colon = value.find(':');
      unsigned seed = 0;
      if (!base::StringToSizeT(value.substr(0, colon), &number) ||
          (colon != std::string::npos &&
           !base::StringToUint(value.substr(colon + 1), &seed))) {
        *error = "bad bytes=SIZE[:SEED]";
        return false;
      }
      response->body = base::LoopbackHttpServer::Bytes(number, seed);
      has_body = true;
    } else if (key == "location" && has_value) {
      response->location = value;
    } else if (key == "header" && has_value) {
      const std::string header = Unescape(value);
      const size_t colon = header.find(':');
      if (colon == std::string::npos || colon == 0) {
        *error = "bad header=NAME:VALUE";
        return false;
      }
      response->headers.emplace_back(
          header.substr(0, colon),
          base::TrimWhitespaceASCII(base::StringPiece(header).substr(colon + 1),
                                    base::TRIM_LEADING)
              .as_string());
    } else if ((key == "close_after" || key == "reset_after" ||
                key == "stall_after" || key == "hold_after") &&
               has_value && base::StringToSizeT(value, &number)) {
      (key == "close_after"   ? response->close_after
       : key == "reset_after" ? response->reset_after
       : key == "hold_after"  ? response->hold_after
                              : response->stall_after) = number;
    } else if (key == "silent" && !has_value) {
      response->silent = true;
    } else if (key == "hold_until" && has_value) {
      response->hold_until_file = base::UTF8ToWide(value);
    } else if (key == "trickle" && has_value) {
      const size_t slash = value.find('/');
      unsigned pause = 0;
      if (slash == std::string::npos ||
          !base::StringToSizeT(value.substr(0, slash), &number) ||
          number == 0 || !base::StringToUint(value.substr(slash + 1), &pause)) {
        *error = "bad trickle=BYTES/MS";
        return false;
      }
      response->trickle_bytes = number;
      response->trickle_pause_ms = pause;
    } else {
      *error = "unknown or malformed " + word;
      return false;
    }
  }
  if (!has_body && status == 200) {
    auto file = files.find(*target);
    if (file != files.end())
      response->body_file = file->second;
  }
  return true;
}

bool LoadScript(const base::FilePath& script,
                const base::FilePath& root,
                const std::map<std::string, std::wstring>& files,
                std::map<std::string, std::vector<Response>>* answers) {
  std::string text;
  if (!base::ReadFileToString(script, &text)) {
    fprintf(stderr, "cannot read the script %ls\n", script.value().c_str());
    return false;
  }
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::vector<std::string> words = SplitWords(line);
    if (words.empty() || words[0][0] == '#')
      continue;
    std::string target;
    Response response;
    std::string error;
    if (!ParseScriptLine(line, root, files, &target, &response, &error)) {
      fprintf(stderr, "script line %d: %s\n", number, error.c_str());
      return false;
    }
    (*answers)[target].push_back(std::move(response));
  }
  return true;
}

std::string RequestJson(const base::LoopbackHttpServer::Request& request) {
  std::string json = "{\"request_line\":";
  base::EscapeJSONString(request.request_line, true, &json);
  json += ",\"method\":";
  base::EscapeJSONString(request.method, true, &json);
  json += ",\"target\":";
  base::EscapeJSONString(request.target, true, &json);
  // In the order received, repeated names joined.
  std::vector<std::pair<std::string, std::string>> headers;
  size_t start = 0;
  while (start < request.headers.size()) {
    size_t end = request.headers.find("\r\n", start);
    if (end == std::string::npos)
      end = request.headers.size();
    const std::string line = request.headers.substr(start, end - start);
    start = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
      continue;
    const std::string name = line.substr(0, colon);
    const std::string value =
        base::TrimWhitespaceASCII(base::StringPiece(line).substr(colon + 1),
                                  base::TRIM_ALL)
            .as_string();
    auto header = headers.begin();
    while (header != headers.end() &&
           !base::EqualsCaseInsensitiveASCII(header->first, name)) {
      ++header;
    }
    if (header == headers.end())
      headers.emplace_back(name, value);
    else
      header->second += ", " + value;
  }
  json += ",\"headers\":{";
  for (size_t i = 0; i < headers.size(); ++i) {
    if (i)
      json += ",";
    base::EscapeJSONString(headers[i].first, true, &json);
    json += ":";
    base::EscapeJSONString(headers[i].second, true, &json);
  }
  json += "}";
  std::string body;
  if (base::EscapeJSONString(request.body, true, &body)) {
    json += ",\"body\":" + body;
  } else {
    std::string encoded;
    base::Base64Encode(request.body, &encoded);
    json += ",\"body_base64\":\"" + encoded + "\"";
  }
  json += "}\n";
  return json;
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  const base::FilePath root = command_line.GetSwitchValuePath("root");
  const base::FilePath port_file = command_line.GetSwitchValuePath("port-file");
  const base::FilePath log = command_line.GetSwitchValuePath("log");
  const base::FilePath script = command_line.GetSwitchValuePath("script");
  if (root.empty() || port_file.empty() || !base::DirectoryExists(root)) {
    fprintf(stderr,
            "usage: kavor_update_server.exe --root=DIR --port-file=FILE "
            "[--log=FILE] [--script=FILE]\n");
    return kExitBadUsage;
  }

  const std::map<std::string, std::wstring> files = ListFiles(root);
  std::map<std::string, std::vector<Response>> answers;
  if (!script.empty() && !LoadScript(script, root, files, &answers))
    return kExitBadUsage;

  base::LoopbackHttpServer server;
  server.AnswerQueriesByPath();
  for (const auto& file : files) {
    Response response;
    response.body_file = file.second;
    server.Script(file.first, {response});
  }
  for (auto& answer : answers)
    server.Script(answer.first, std::move(answer.second));

  base::Lock log_lock;
  if (!log.empty()) {
    if (base::WriteFile(log, "", 0) != 0) {
      fprintf(stderr, "cannot write the log %ls\n", log.value().c_str());
      return kExitCannotServe;
    }
    server.SetRequestObserver(
        [&log, &log_lock](const base::LoopbackHttpServer::Request& request) {
          const std::string line = RequestJson(request);
          base::AutoLock lock(log_lock);
          if (!base::AppendToFile(log, line.data(),
                                  static_cast<int>(line.size()))) {
            fprintf(stderr, "cannot append to the log\n");
          }
        });
  }

  if (!server.Start()) {
    fprintf(stderr, "cannot listen on 127.0.0.1\n");
    return kExitCannotServe;
  }
  const std::string port = base::UintToString(server.port());
  const base::FilePath port_file_new(port_file.value() + L".new");
  if (base::WriteFile(port_file_new, port.data(),
                      static_cast<int>(port.size())) !=
          static_cast<int>(port.size()) ||
      !base::ReplaceFile(port_file_new, port_file, nullptr)) {
    fprintf(stderr, "cannot write the port file %ls\n",
            port_file.value().c_str());
    return kExitCannotServe;
  }
  fprintf(stderr, "serving %u files on port %s\n",
          static_cast<unsigned>(files.size()), port.c_str());
  fflush(stderr);
  for (;;)
    ::Sleep(INFINITE);
}
