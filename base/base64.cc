#include "base/base64.h"

#include <stdint.h>

#include "base/memory/allocation_probe.h"

namespace base {

namespace {

const char kAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 0..63 for an alphabet character, -1 for anything else ('=' included).
int DecodeChar(char c) {
  if (c >= 'A' && c <= 'Z')
    return c - 'A';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 26;
  if (c >= '0' && c <= '9')
    return c - '0' + 52;
  if (c == '+')
    return 62;
  if (c == '/')
    return 63;
  return -1;
}

}  // namespace

void Base64Encode(StringPiece input, std::string* output) {
  const size_t n = input.size();
  std::string temp(((n + 2) / 3) * 4 + 1, '\0');
  const unsigned char* in =
      reinterpret_cast<const unsigned char*>(input.data());
  size_t out = 0;
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t group = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    temp[out++] = kAlphabet[(group >> 18) & 0x3F];
    temp[out++] = kAlphabet[(group >> 12) & 0x3F];
    temp[out++] = kAlphabet[(group >> 6) & 0x3F];
    temp[out++] = kAlphabet[group & 0x3F];
  }
  const size_t rest = n - i;
  if (rest == 1) {
    uint32_t group = in[i] << 16;
    temp[out++] = kAlphabet[(group >> 18) & 0x3F];
    temp[out++] = kAlphabet[(group >> 12) & 0x3F];
    temp[out++] = '=';
    temp[out++] = '=';
  } else if (rest == 2) {
    uint32_t group = (in[i] << 16) | (in[i + 1] << 8);
    temp[out++] = kAlphabet[(group >> 18) & 0x3F];
    temp[out++] = kAlphabet[(group >> 12) & 0x3F];
    temp[out++] = kAlphabet[(group >> 6) & 0x3F];
    temp[out++] = '=';
  }
  temp.resize(out);
  output->swap(temp);
}

bool Base64Decode(StringPiece input, std::string* output) {
  size_t n = input.size();
  if (n == 0) {
    output->clear();
    return true;
  }
  if (n < 4 || n % 4 != 0)
    return false;
  const size_t capacity = (n / 4) * 3 + 2;
  if (input[n - 1] == '=') {
    --n;
    if (input[n - 1] == '=')
      --n;
  }
  // The size comes from the input; an output the heap cannot hold fails the
  // decoding instead of the process.
  if (!CanAllocate(capacity + 1))
    return false;
  std::string temp(capacity, '\0');
  size_t out = 0;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    int a = DecodeChar(input[i]);
    int b = DecodeChar(input[i + 1]);
    int c = DecodeChar(input[i + 2]);
    int d = DecodeChar(input[i + 3]);
    if ((a | b | c | d) < 0)
      return false;
    uint32_t group = (a << 18) | (b << 12) | (c << 6) | d;
    temp[out++] = static_cast<char>(group >> 16);
    temp[out++] = static_cast<char>(group >> 8);
    temp[out++] = static_cast<char>(group);
  }
  const size_t rest = n - i;
  if (rest == 2) {
    int a = DecodeChar(input[i]);
    int b = DecodeChar(input[i + 1]);
    if ((a | b) < 0)
      return false;
    temp[out++] = static_cast<char>((a << 2) | (b >> 4));
  } else if (rest == 3) {
    int a = DecodeChar(input[i]);
    int b = DecodeChar(input[i + 1]);
    int c = DecodeChar(input[i + 2]);
    if ((a | b | c) < 0)
      return false;
    uint32_t group = (a << 18) | (b << 12) | (c << 6);
    temp[out++] = static_cast<char>(group >> 16);
    temp[out++] = static_cast<char>(group >> 8);
  } else if (rest == 1) {
    // A lone character cannot hold a whole byte.
    return false;
  }
  temp.resize(out);
  output->swap(temp);
  return true;
}

}  // namespace base
