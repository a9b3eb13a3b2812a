#include "desktop/windows/installer/package_fetcher/signature_check.h"

#include <windows.h>
#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <stddef.h>

#include "base/base_paths.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/scoped_native_library.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/pe_image.h"
#include "base/win/system_library.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

namespace {

using WinVerifyTrustFunction = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFromStateDataFunction = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFromChainFunction =
    CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using CertGetNameStringFunction =
    DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

SignatureChecker* g_checker_for_testing = nullptr;

const char* SigningState(bool known, bool is_signed) {
  return !known ? "unknown" : is_signed ? "1" : "0";
}

// The security directory entry of the image's optional header, which comes
// in a 32-bit and a 64-bit form whatever this build's own bitness. Null for
// no PE image, or when the headers do not lie whole inside the |length|
// bytes at |data|: the entry is then unknown, not absent.
const IMAGE_DATA_DIRECTORY* FindSecurityDirectory(const uint8_t* data,
                                                  size_t length) {
  if (length < sizeof(IMAGE_DOS_HEADER))
    return nullptr;
  base::win::PEImage image(static_cast<const void*>(data));
  const LONG nt_offset = image.GetDosHeader()->e_lfanew;
  // The signature, the file header and the optional header's magic must be
  // inside the file before the image code reads them.
  const size_t magic_end = offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                           sizeof(IMAGE_OPTIONAL_HEADER::Magic);
  if (nt_offset < 0 || static_cast<size_t>(nt_offset) > length - magic_end)
    return nullptr;
  const IMAGE_NT_HEADERS* nt = image.GetNTHeaders();
  if (!nt)
    return nullptr;
  const uint8_t* optional =
      reinterpret_cast<const uint8_t*>(&nt->OptionalHeader);
  size_t directories_offset = 0;
  DWORD count = 0;
  switch (nt->OptionalHeader.Magic) {
    case IMAGE_NT_OPTIONAL_HDR32_MAGIC:
      directories_offset = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
      if (static_cast<size_t>(optional - data) + directories_offset > length)
        return nullptr;
      count = reinterpret_cast<const IMAGE_OPTIONAL_HEADER32*>(optional)
                  ->NumberOfRvaAndSizes;
      break;
    case IMAGE_NT_OPTIONAL_HDR64_MAGIC:
      directories_offset = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
      if (static_cast<size_t>(optional - data) + directories_offset > length)
        return nullptr;
      count = reinterpret_cast<const IMAGE_OPTIONAL_HEADER64*>(optional)
                  ->NumberOfRvaAndSizes;
      break;
    default:
      return nullptr;
  }
  // An image whose directory list stops before the entry has none.
  static const IMAGE_DATA_DIRECTORY kNone = {};
  if (count <= IMAGE_DIRECTORY_ENTRY_SECURITY)
    return &kNone;
  const size_t entry_end =
      static_cast<size_t>(optional - data) + directories_offset +
      (IMAGE_DIRECTORY_ENTRY_SECURITY + 1) * sizeof(IMAGE_DATA_DIRECTORY);
  if (entry_end > length)
    return nullptr;
  return reinterpret_cast<const IMAGE_DATA_DIRECTORY*>(optional +
                                                       directories_offset) +
         IMAGE_DIRECTORY_ENTRY_SECURITY;
}

std::string CertificateName(CertGetNameStringFunction get_name,
                            PCCERT_CONTEXT certificate,
                            DWORD flags) {
  wchar_t name[256] = {};
  if (!get_name ||
      get_name(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name,
               static_cast<DWORD>(sizeof(name) / sizeof(name[0]))) <= 1) {
    return "(unnamed)";
  }
  return base::WideToUTF8(name);
}

// The certificates of the first signer, from the signer up, as subject and
// issuer lines.
void DescribeSignerChain(const base::ScopedNativeLibrary& wintrust,
                         HANDLE state,
                         std::string* log) {
  auto provider_data = reinterpret_cast<ProvDataFromStateDataFunction>(
      wintrust.GetFunctionPointer("WTHelperProvDataFromStateData"));
  auto signer_from_chain = reinterpret_cast<ProvSignerFromChainFunction>(
      wintrust.GetFunctionPointer("WTHelperGetProvSignerFromChain"));
  CRYPT_PROVIDER_DATA* data =
      state && provider_data ? provider_data(state) : nullptr;
  CRYPT_PROVIDER_SGNR* signer = data && signer_from_chain
                                    ? signer_from_chain(data, 0, FALSE, 0)
                                    : nullptr;
  if (!signer || !signer->pasCertChain || signer->csCertChain == 0) {
    *log += "No signer chain\n";
    return;
  }
  // crypt32 is not among the DLLs the loader always takes from the system
  // folder.
  base::ScopedNativeLibrary crypt32(
      base::win::LoadSystemLibrary(L"crypt32.dll"));
  auto get_name = reinterpret_cast<CertGetNameStringFunction>(
      crypt32.is_valid() ? crypt32.GetFunctionPointer("CertGetNameStringW")
                         : nullptr);
  for (DWORD i = 0; i < signer->csCertChain; ++i) {
    PCCERT_CONTEXT certificate = signer->pasCertChain[i].pCert;
    if (!certificate)
      continue;
    *log += base::StringPrintf(
        "Certificate %lu: %s, issued by %s\n", i,
        CertificateName(get_name, certificate, 0).c_str(),
        CertificateName(get_name, certificate, CERT_NAME_ISSUER_FLAG).c_str());
  }
}

class SystemSignatureChecker : public SignatureChecker {
 public:
  bool HasSecurityDirectory(const base::FilePath& path,
                            bool* is_signed) override {
    return installer::HasSecurityDirectory(path, is_signed);
  }
  bool VerifyFileSignature(const base::FilePath& path,
                           std::string* log) override {
    return installer::VerifyFileSignature(path, log);
  }
};

}  // namespace

bool HasSecurityDirectory(const base::FilePath& path, bool* is_signed) {
  base::MemoryMappedFile file;
  if (!file.Initialize(path)) {
    LOG(ERROR) << "Cannot map " << path.value() << ": "
               << FormatWin32Error(::GetLastError());
    return false;
  }
  const IMAGE_DATA_DIRECTORY* security =
      FindSecurityDirectory(file.data(), file.length());
  if (!security) {
    LOG(ERROR) << path.value() << " is not a valid PE image";
    return false;
  }
  *is_signed = security->Size != 0;
  VLOG(2) << path.value() << " security directory size " << security->Size;
  return true;
}

bool VerifyFileSignature(const base::FilePath& path, std::string* log) {
  // wintrust is not among the DLLs the loader always takes from the system
  // folder.
  base::ScopedNativeLibrary wintrust(
      base::win::LoadSystemLibrary(L"wintrust.dll"));
  auto verify = reinterpret_cast<WinVerifyTrustFunction>(
      wintrust.is_valid() ? wintrust.GetFunctionPointer("WinVerifyTrust")
                          : nullptr);
  if (!verify) {
    *log +=
        "Cannot load WinVerifyTrust: " + FormatWin32Error(::GetLastError()) +
        "\n";
    LOG(ERROR) << *log;
    return false;
  }
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.value().c_str();
  WINTRUST_DATA trust_data = {};
  trust_data.cbStruct = sizeof(trust_data);
  trust_data.dwUIChoice = WTD_UI_NONE;
  // The installer may run offline: no revocation lists are fetched.
  trust_data.fdwRevocationChecks = WTD_REVOKE_NONE;
  trust_data.dwUnionChoice = WTD_CHOICE_FILE;
  trust_data.pFile = &file_info;
  trust_data.dwStateAction = WTD_STATEACTION_VERIFY;
  trust_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  // No window: the user is never asked.
  HWND no_ui = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG status = verify(no_ui, &action, &trust_data);
  *log +=
      "Signature of " + path.AsUTF8Unsafe() + ": " +
      (status == ERROR_SUCCESS ? std::string("valid")
                               : FormatWin32Error(static_cast<DWORD>(status))) +
      "\n";
  DescribeSignerChain(wintrust, trust_data.hWVTStateData, log);
  trust_data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(no_ui, &action, &trust_data);
  return status == ERROR_SUCCESS;
}

SignatureChecker* GetSignatureChecker() {
  if (g_checker_for_testing)
    return g_checker_for_testing;
  // Kept until the library unloads.
  static SignatureChecker* const checker = new SystemSignatureChecker();
  return checker;
}

void SetSignatureCheckerForTesting(SignatureChecker* checker) {
  g_checker_for_testing = checker;
}

bool IsProgramSignatureAccepted(const base::FilePath& program,
                                const char* description) {
  SignatureChecker* checker = GetSignatureChecker();
  base::FilePath own;
  bool own_signed = false;
  const bool own_known = base::PathService::Get(base::FILE_EXE, &own) &&
                         checker->HasSecurityDirectory(own, &own_signed);
  if (own_known && !own_signed)
    return true;
  std::string log;
  if (checker->VerifyFileSignature(program, &log)) {
    VLOG(1) << log;
    return true;
  }
  bool program_signed = false;
  const bool program_known =
      checker->HasSecurityDirectory(program, &program_signed);
  LOG(ERROR) << "Signature error for " << description << " ";
  LOG(ERROR) << own.value()
             << " signed = " << SigningState(own_known, own_signed);
  LOG(ERROR) << program.value()
             << " signed = " << SigningState(program_known, program_signed);
  LOG(ERROR) << log;
  return false;
}

}  // namespace installer
