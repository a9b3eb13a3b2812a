#include "crypto/secure_hash.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/test/test_thread.h"
#include "crypto/sha2.h"
#include "gtest/gtest.h"

namespace crypto {
namespace {

std::string Hex(const void* bytes, size_t size) {
  return base::ToLowerASCII(base::HexEncode(bytes, size));
}

const char kEmptyDigest[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

TEST(SecureHashTest, EmptyMessage) {
  std::unique_ptr<SecureHash> ctx(SecureHash::Create(SecureHash::SHA256));
  ASSERT_TRUE(ctx);
  EXPECT_EQ(32u, ctx->GetHashLength());
  ctx->Update(nullptr, 0);
  std::unique_ptr<SecureHash> clone = ctx->Clone();
  unsigned char out[32];
  ctx->Finish(out, sizeof(out));
  EXPECT_EQ(kEmptyDigest, Hex(out, sizeof(out)));

  // A short finish gives the digest's prefix and writes nothing beyond.
  memset(out, 0x5A, sizeof(out));
  clone->Finish(out, 16);
  EXPECT_EQ(std::string(kEmptyDigest, 32), Hex(out, 16));
  for (size_t i = 16; i < sizeof(out); ++i)
    EXPECT_EQ(0x5A, out[i]) << i;
}

TEST(SecureHashTest, StreamingEqualsOneShot) {
  const std::string text(1000, 'q');
  std::unique_ptr<SecureHash> ctx(SecureHash::Create(SecureHash::SHA256));
  // Pieces that straddle the 64-byte block boundary in different ways.
  size_t pos = 0;
  for (size_t step = 1; pos < text.size(); step = step * 3 % 97 + 1) {
    const size_t n = std::min(step, text.size() - pos);
    ctx->Update(text.data() + pos, n);
    pos += n;
  }
  std::string out(32, '\0');
  ctx->Finish(&out[0], out.size());
  EXPECT_EQ(SHA256HashString(text), out);
}

TEST(SecureHashTest, CloneContinuesIndependently) {
  std::unique_ptr<SecureHash> ctx(SecureHash::Create(SecureHash::SHA256));
  ctx->Update("hello ", 6);
  std::unique_ptr<SecureHash> clone = ctx->Clone();
  ASSERT_TRUE(clone);
  EXPECT_EQ(32u, clone->GetHashLength());

  // Feeding the original more must not show in the clone, and the other way
  // round.
  ctx->Update("world", 5);
  clone->Update("world", 5);
  std::string a(32, '\0'), b(32, '\0');
  ctx->Finish(&a[0], a.size());
  clone->Finish(&b[0], b.size());
  EXPECT_EQ(SHA256HashString("hello world"), a);
  EXPECT_EQ(a, b);

  std::unique_ptr<SecureHash> ctx2(SecureHash::Create(SecureHash::SHA256));
  ctx2->Update("abc", 3);
  std::unique_ptr<SecureHash> clone2 = ctx2->Clone();
  clone2->Update("def", 3);
  ctx2.reset();  // The clone owns its own state.
  std::string c(32, '\0');
  clone2->Finish(&c[0], c.size());
  EXPECT_EQ(SHA256HashString("abcdef"), c);
}

struct CapturedLine {
  int count = 0;
  base::logging::LogSeverity severity = -100;
  std::string file;
  int line = 0;
  std::string text;
};
CapturedLine* g_captured = nullptr;

bool CaptureLine(base::logging::LogSeverity severity,
                 const char* file,
                 int line,
                 size_t message_start,
                 const std::string& str) {
  ++g_captured->count;
  g_captured->severity = severity;
  g_captured->file = file;
  g_captured->line = line;
  g_captured->text = str.substr(message_start);
  return true;
}

TEST(SecureHashTest, UnknownAlgorithmLogsAndGivesNull) {
  const base::logging::internal::LoggingStateForTesting saved =
      base::logging::internal::GetLoggingStateForTesting();
  CapturedLine captured;
  g_captured = &captured;
  base::logging::SetMinLogLevel(base::logging::LOG_INFO);
  base::logging::SetLogMessageHandler(&CaptureLine);

  std::unique_ptr<SecureHash> ctx(
      SecureHash::Create(static_cast<SecureHash::Algorithm>(1)));

  base::logging::internal::SetLoggingStateForTesting(saved);
  g_captured = nullptr;

  EXPECT_FALSE(ctx);
  EXPECT_EQ(1, captured.count);
  EXPECT_EQ(base::logging::LOG_ERROR, captured.severity);
  EXPECT_EQ("crypto/secure_hash", captured.file);
  EXPECT_EQ(61, captured.line);
  EXPECT_EQ("NOT IMPLEMENTED\n", captured.text);
}

// Hashers made and used on several threads at once, including the very
// first use of the library in this process if this test runs first.
DWORD WINAPI HashOnThread(void* param) {
  std::string* result = static_cast<std::string*>(param);
  for (int i = 0; i < 50; ++i)
    *result = SHA256HashString("abc");
  return 0;
}

TEST(SecureHashTest, ConcurrentUse) {
  const int kThreads = 6;
  std::string results[kThreads];
  std::vector<std::unique_ptr<base::TestThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    std::string* result = &results[i];
    threads.push_back(
        std::make_unique<base::TestThread>([result] { HashOnThread(result); }));
  }
  for (auto& thread : threads)
    thread->Join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(
        "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
        Hex(results[i].data(), results[i].size()));
  }
}

}  // namespace
}  // namespace crypto
