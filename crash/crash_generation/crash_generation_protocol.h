#ifndef CRASH_CRASH_GENERATION_CRASH_GENERATION_PROTOCOL_H_
#define CRASH_CRASH_GENERATION_CRASH_GENERATION_PROTOCOL_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

// What a crashing installer process and the crash-reporter process exchange
// over the reporter's pipe, and the records the reporter reads out of the
// crashing process's memory. The layouts are shared by two processes built
// from this source and must not change.
namespace crash_reporter {

// User streams the installer adds to every dump.
constexpr uint32_t kHandlerInfoStreamType = 0x47670001;
constexpr uint32_t kAssertionInfoStreamType = 0x47670002;

// The kind of fatal event an AssertionInfo describes.
enum AssertionType : uint32_t {
  ASSERTION_NONE = 0,
  ASSERTION_INVALID_PARAMETER = 1,
  ASSERTION_PURE_CALL = 2,
};

// An invalid parameter or pure virtual call, as the runtime reported it;
// the texts are zero-terminated within their 128 units.
struct AssertionInfo {
  wchar_t expression[128];
  wchar_t function[128];
  wchar_t file[128];
  uint32_t line;
  uint32_t type;  // AssertionType
};
static_assert(sizeof(AssertionInfo) == 776, "AssertionInfo is 776 bytes");

// One crash key as it travels with a dump: name and value, each
// zero-terminated within 64 units (so at most 63 characters).
struct CustomInfoEntry {
  static constexpr size_t kNameMaxLength = 64;
  static constexpr size_t kValueMaxLength = 64;
  wchar_t name[kNameMaxLength];
  wchar_t value[kValueMaxLength];
};
static_assert(sizeof(CustomInfoEntry) == 256, "CustomInfoEntry is 256 bytes");

// The crash keys of a client: its entries stay where they are for the
// client's whole life; the server copies them at dump time.
struct CustomClientInfo {
  const CustomInfoEntry* entries;
  size_t count;
};

// The handler information stream: which thread wrote the dump and which
// thread crashed or asked for it.
struct HandlerInfo {
  // 0x1: dump thread id valid; 0x2: requesting thread id valid.
  uint32_t validity;
  uint32_t dump_thread_id;
  uint32_t requesting_thread_id;
};
static_assert(sizeof(HandlerInfo) == 12, "HandlerInfo is 12 bytes");

enum MessageTag : uint32_t {
  MESSAGE_TAG_NONE = 0,
  MESSAGE_TAG_REGISTRATION_REQUEST = 1,
  MESSAGE_TAG_REGISTRATION_RESPONSE = 2,
  MESSAGE_TAG_REGISTRATION_ACK = 3,
  MESSAGE_TAG_UPLOAD_REQUEST = 4,
};

// Every message on the pipe: 80 bytes, as an x86-64 process holds it. The
// addresses are in the client's address space; the handles of a response
// are valid in the client's handle table.
struct ProtocolMessage {
  uint32_t tag;  // MessageTag
  // Request: the client's process id; response: the server's; upload
  // request: the crash id to upload.
  uint32_t id;
  uint32_t dump_type;  // MINIDUMP_TYPE bits
  uint32_t reserved;   // alignment; never read
  DWORD* thread_id;
  EXCEPTION_POINTERS** exception_pointers;
  AssertionInfo* assert_info;
  CustomClientInfo custom_client_info;
  HANDLE dump_request_handle;
  HANDLE dump_generated_handle;
  HANDLE server_alive_handle;
};
static_assert(sizeof(ProtocolMessage) == 80, "ProtocolMessage is 80 bytes");
static_assert(offsetof(ProtocolMessage, thread_id) == 16, "layout");
static_assert(offsetof(ProtocolMessage, custom_client_info) == 40, "layout");
static_assert(offsetof(ProtocolMessage, dump_request_handle) == 56, "layout");

}  // namespace crash_reporter

#endif  // CRASH_CRASH_GENERATION_CRASH_GENERATION_PROTOCOL_H_
