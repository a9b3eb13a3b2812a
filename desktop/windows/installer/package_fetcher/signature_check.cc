#include "desktop/windows/installer/package_fetcher/signature_check.h"

#include <windows.h>
#include <wincrypt.h>
#include <mscat.h>
#include <softpub.h>
#include <wintrust.h>

#include <stddef.h>
#include <string.h>

#include <algorithm>

#include "base/base_paths.h"
#include "base/files/memory_mapped_file.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/stringprintf.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/pe_image.h"
#include "base/win/scoped_handle.h"
#include "base/win/system_library.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/common/product_constants.h"
#include "desktop/windows/installer/service/service_utils.h"

namespace installer {

namespace {

// The trust data of WinVerifyTrust as Windows 8 and later read it: the
// compiler's headers end before the signature settings, which name one
// signature of several to verify. Earlier systems read only the part they
// know.
struct SignatureSettings {
  DWORD cbStruct;
  DWORD dwIndex;
  DWORD dwFlags;
  DWORD cSecondarySigs;
  DWORD dwVerifiedSigIndex;
  const void* pCryptoPolicy;
};
constexpr DWORD kVerifySpecificSignature = 0x1;  // WSS_VERIFY_SPECIFIC

struct TrustData {
  DWORD cbStruct;
  void* pPolicyCallbackData;
  void* pSIPClientData;
  DWORD dwUIChoice;
  DWORD fdwRevocationChecks;
  DWORD dwUnionChoice;
  WINTRUST_FILE_INFO* pFile;
  DWORD dwStateAction;
  HANDLE hWVTStateData;
  WCHAR* pwszURLReference;
  DWORD dwProvFlags;
  DWORD dwUIContext;
  SignatureSettings* pSignatureSettings;
};
static_assert(sizeof(TrustData) == 88, "WinVerifyTrust's trust data");
static_assert(sizeof(WINTRUST_FILE_INFO) == 32, "WinVerifyTrust's file info");

// The content type of an RFC 3161 timestamp token.
constexpr char kTstInfoOid[] = "1.2.840.113549.1.9.16.1.4";

// The nested-signature attribute of an Authenticode signer.
constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

// Windows itself looks one level down for nested signatures; a message
// nested deeper than this is hostile or broken, and searching it would let
// the file set how deep the search recurses.
constexpr uint32_t kMaxNestingLevel = 2;

// A signer whose Windows signature index is unknown (nested deeper than
// Windows looks, or not the first signer of its message).
constexpr DWORD kNoWindowsIndex = static_cast<DWORD>(-1);

// The WinTrust and Crypt32 functions the check calls. Neither DLL is a
// KnownDLL, so neither is imported (an installer runs from a download
// folder, where a DLL of that name may lie): both are loaded from the system
// folder on first use and stay loaded.
struct CryptFunctions {
  decltype(&::WinVerifyTrust) verify_trust;
  decltype(&::WTHelperProvDataFromStateData) provider_data;
  decltype(&::WTHelperGetProvSignerFromChain) signer_from_chain;
  decltype(&::CryptCATAdminReleaseContext) release_context;
  // Windows 8 and later; null before.
  decltype(&::CryptCATAdminAcquireContext2) acquire_context2;
  decltype(&::CryptCATAdminCalcHashFromFileHandle2) calc_hash2;
  decltype(&::CryptQueryObject) query_object;
  decltype(&::CryptMsgGetParam) msg_get_param;
  decltype(&::CryptMsgControl) msg_control;
  decltype(&::CryptMsgClose) msg_close;
  decltype(&::CertCloseStore) close_store;
  decltype(&::CertFindCertificateInStore) find_certificate;
  decltype(&::CertFreeCertificateContext) free_certificate;
  decltype(&::CertCompareCertificate) compare_certificates;
  decltype(&::CertGetCertificateChain) get_chain;
  decltype(&::CertFreeCertificateChain) free_chain;
  decltype(&::CertVerifyCertificateChainPolicy) verify_chain_policy;
  decltype(&::CertGetNameStringW) get_name;
  decltype(&::CryptHashCertificate) hash_certificate;
  decltype(&::CryptDecodeObjectEx) decode_object;
};

template <typename T>
bool Resolve(HMODULE module, const char* name, T* function) {
  *function = reinterpret_cast<T>(::GetProcAddress(module, name));
  return *function != nullptr;
}

// Why LoadCryptFunctions() failed, for those who ask Crypt() later, when
// the last error has long moved on.
DWORD g_crypt_load_error = ERROR_SUCCESS;

const CryptFunctions* LoadCryptFunctions() {
  HMODULE wintrust = base::win::LoadSystemLibrary(L"wintrust.dll");
  HMODULE crypt32 =
      wintrust ? base::win::LoadSystemLibrary(L"crypt32.dll") : nullptr;
  if (!crypt32) {
    g_crypt_load_error = ::GetLastError();
    PLOG(ERROR) << "Could not load wintrust.dll and crypt32.dll";
    return nullptr;
  }
  static CryptFunctions functions;
  CryptFunctions& f = functions;
  Resolve(wintrust, "CryptCATAdminAcquireContext2", &f.acquire_context2);
  Resolve(wintrust, "CryptCATAdminCalcHashFromFileHandle2", &f.calc_hash2);
  if (!Resolve(wintrust, "WinVerifyTrust", &f.verify_trust) ||
      !Resolve(wintrust, "WTHelperProvDataFromStateData", &f.provider_data) ||
      !Resolve(wintrust, "WTHelperGetProvSignerFromChain",
               &f.signer_from_chain) ||
      !Resolve(wintrust, "CryptCATAdminReleaseContext", &f.release_context) ||
      !Resolve(crypt32, "CryptQueryObject", &f.query_object) ||
      !Resolve(crypt32, "CryptMsgGetParam", &f.msg_get_param) ||
      !Resolve(crypt32, "CryptMsgControl", &f.msg_control) ||
      !Resolve(crypt32, "CryptMsgClose", &f.msg_close) ||
      !Resolve(crypt32, "CertCloseStore", &f.close_store) ||
      !Resolve(crypt32, "CertFindCertificateInStore", &f.find_certificate) ||
      !Resolve(crypt32, "CertFreeCertificateContext", &f.free_certificate) ||
      !Resolve(crypt32, "CertCompareCertificate", &f.compare_certificates) ||
      !Resolve(crypt32, "CertGetCertificateChain", &f.get_chain) ||
      !Resolve(crypt32, "CertFreeCertificateChain", &f.free_chain) ||
      !Resolve(crypt32, "CertVerifyCertificateChainPolicy",
               &f.verify_chain_policy) ||
      !Resolve(crypt32, "CertGetNameStringW", &f.get_name) ||
      !Resolve(crypt32, "CryptHashCertificate", &f.hash_certificate) ||
      !Resolve(crypt32, "CryptDecodeObjectEx", &f.decode_object)) {
    g_crypt_load_error = ::GetLastError();
    LOG(ERROR) << "wintrust.dll or crypt32.dll lacks a function the "
                  "signature check needs";
    return nullptr;
  }
  return &functions;
}

// Null, after logging why, when a DLL or function is missing; the answer of
// the first call stands for the process's life.
const CryptFunctions* Crypt() {
  static const CryptFunctions* const functions = LoadCryptFunctions();
  return functions;
}

// Only made once Crypt() has answered.
void FreeCertificate(PCCERT_CONTEXT certificate) {
  Crypt()->free_certificate(certificate);
}
void FreeChain(PCCERT_CHAIN_CONTEXT chain) {
  Crypt()->free_chain(chain);
}
using ScopedCertificate = base::win::ScopedGeneric<
    base::win::ReleaseTraits<PCCERT_CONTEXT, &FreeCertificate>>;
using ScopedChain = base::win::ScopedGeneric<
    base::win::ReleaseTraits<PCCERT_CHAIN_CONTEXT, &FreeChain>>;
using ScopedLocalDecoded = base::win::ScopedLocalAllocAs<void*>;

SignatureChecker* g_checker_for_testing = nullptr;
PlatformVerdictAdjuster g_verdict_adjuster_for_testing = nullptr;

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

// Calls WinVerifyTrust on |path| as the check always does: no window, no
// UI, no revocation checks. With |settings| the signature they name is
// verified. The state is kept for |inspect|, which is given the result and
// the state handle before the state is closed.
template <typename Inspect>
LONG CallWinVerifyTrust(const base::FilePath& path,
                        SignatureSettings* settings,
                        Inspect inspect) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.value().c_str();
  TrustData data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.pSignatureSettings = settings;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  HWND no_window = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG status = Crypt()->verify_trust(no_window, &action, &data);
  const DWORD error = ::GetLastError();
  inspect(status, data.hWVTStateData);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  Crypt()->verify_trust(no_window, &action, &data);
  ::SetLastError(error);
  return status;
}

// The last error, or ERROR_INVALID_DATA for a failure that set none.
DWORD LastErrorOrInvalidData() {
  const DWORD error = ::GetLastError();
  return error ? error : ERROR_INVALID_DATA;
}

DWORD ChainPolicyError(PCCERT_CHAIN_CONTEXT chain, LPCSTR policy) {
  CERT_CHAIN_POLICY_PARA para = {};
  para.cbSize = sizeof(para);
  CERT_CHAIN_POLICY_STATUS status = {};
  status.cbSize = sizeof(status);
  if (!Crypt()->verify_chain_policy(policy, chain, &para, &status)) {
    return LastErrorOrInvalidData();
  }
  return status.dwError;
}

// The error bits of the chain's own trust status. A policy's verdict is
// not enough: some systems' policies (Wine's among them) pass a chain that
// ends short of a root, which the status calls a partial chain.
DWORD ChainStatusErrors(PCCERT_CHAIN_CONTEXT chain) {
  return chain->TrustStatus.dwErrorStatus;
}

// The certificate of the signer WinVerifyTrust has just verified, from its
// kept |state|; null when it verified none. Owned by the state.
// |*policy_error| is then the Authenticode policy's verdict on the chain
// WinVerifyTrust built for it, at the time of the signature's timestamp
// when it has one, and |*chain_errors| the error bits of that chain's
// status: not every WinVerifyTrust applies that policy itself, and not
// every policy refuses every broken chain.
PCCERT_CONTEXT VerifiedSigner(LONG status,
                              HANDLE state,
                              DWORD* policy_error,
                              DWORD* chain_errors) {
  CRYPT_PROVIDER_DATA* data = status == ERROR_SUCCESS && state
                                  ? Crypt()->provider_data(state)
                                  : nullptr;
  CRYPT_PROVIDER_SGNR* signer =
      data ? Crypt()->signer_from_chain(data, 0, FALSE, 0) : nullptr;
  if (!signer || !signer->csCertChain || !signer->pasCertChain)
    return nullptr;
  if (signer->pChainContext) {
    *policy_error = ChainPolicyError(signer->pChainContext,
                                     CERT_CHAIN_POLICY_AUTHENTICODE);
    *chain_errors = ChainStatusErrors(signer->pChainContext);
  } else {
    *policy_error = static_cast<DWORD>(CERT_E_CHAINING);
  }
  return signer->pasCertChain[0].pCert;
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a && b &&
         Crypt()->compare_certificates(X509_ASN_ENCODING, a->pCertInfo,
                                       b->pCertInfo);
}

// Windows 8 and later verify a nested signature themselves when told its
// index (the primary signature is 0), with the whole Authenticode policy,
// the signer's chain at the signature's timestamp included. True when the
// signature verifies and its signer is |certificate|: an index that names
// another signature must not vouch for this one.
bool WindowsVerifiesSignature(const base::FilePath& path,
                              DWORD windows_index,
                              PCCERT_CONTEXT certificate) {
  SignatureSettings settings = {};
  settings.cbStruct = sizeof(settings);
  settings.dwIndex = windows_index;
  settings.dwFlags = kVerifySpecificSignature;
  bool same_signer = false;
  DWORD policy_error = ERROR_INVALID_DATA;
  DWORD chain_errors = 0;
  const LONG status =
      CallWinVerifyTrust(path, &settings, [&](LONG status, HANDLE state) {
        same_signer = SameCertificate(
            VerifiedSigner(status, state, &policy_error, &chain_errors),
            certificate);
      });
  return status == ERROR_SUCCESS &&
         settings.dwVerifiedSigIndex == windows_index && same_signer &&
         policy_error == 0 && chain_errors == 0;
}

bool GetMessageParam(HCRYPTMSG message,
                     DWORD type,
                     DWORD index,
                     std::vector<uint8_t>* value) {
  DWORD size = 0;
  if (!Crypt()->msg_get_param(message, type, index, nullptr, &size))
    return false;
  value->resize(size);
  if (!Crypt()->msg_get_param(message, type, index, value->data(), &size))
    return false;
  value->resize(size);
  return true;
}

// The certificate in |store| that |info| names by issuer and serial number;
// null when there is none.
PCCERT_CONTEXT FindSignerCertificate(HCERTSTORE store,
                                     DWORD encoding,
                                     const CMSG_SIGNER_INFO& info) {
  CERT_INFO wanted = {};
  wanted.Issuer = info.Issuer;
  wanted.SerialNumber = info.SerialNumber;
  return Crypt()->find_certificate(store, encoding, 0, CERT_FIND_SUBJECT_CERT,
                                   &wanted, nullptr);
}

// Opens the DER PKCS#7 signed message in |value| (a nested signature, a
// timestamp token) with the certificates it carries.
bool OpenSignedBlob(const CRYPT_ATTR_BLOB& value,
                    DWORD* encoding,
                    ScopedCertStore* store,
                    ScopedCryptMsg* message) {
  CERT_BLOB blob = {value.cbData, value.pbData};
  return Crypt()->query_object(
      CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
      CERT_QUERY_FORMAT_FLAG_BINARY, 0, encoding, nullptr, nullptr,
      store->receive(), message->receive(), nullptr);
}

// The image digest an Authenticode signature vouches for, from the
// SpcIndirectDataContent it signs, with its algorithm's object identifier.
bool ReadImageDigest(HCRYPTMSG message,
                     DWORD encoding,
                     std::string* algorithm,
                     std::vector<uint8_t>* digest) {
  std::vector<uint8_t> type;
  if (!GetMessageParam(message, CMSG_INNER_CONTENT_TYPE_PARAM, 0, &type))
    return false;
  type.push_back(0);
  if (strcmp(reinterpret_cast<const char*>(type.data()),
             SPC_INDIRECT_DATA_OBJID) != 0) {
    return false;
  }
  std::vector<uint8_t> content;
  if (!GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content))
    return false;
  ScopedLocalDecoded decoded;
  DWORD size = 0;
  if (!Crypt()->decode_object(
          encoding, SPC_INDIRECT_DATA_CONTENT_STRUCT, content.data(),
          static_cast<DWORD>(content.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
          decoded.receive(), &size)) {
    return false;
  }
  const auto* indirect =
      static_cast<const SPC_INDIRECT_DATA_CONTENT*>(decoded.get());
  if (!indirect->Data.pszObjId || !indirect->DigestAlgorithm.pszObjId ||
      strcmp(indirect->Data.pszObjId, SPC_PE_IMAGE_DATA_OBJID) != 0) {
    return false;
  }
  *algorithm = indirect->DigestAlgorithm.pszObjId;
  digest->assign(indirect->Digest.pbData,
                 indirect->Digest.pbData + indirect->Digest.cbData);
  return true;
}

struct DigestAlgorithm {
  const char* oid;
  const wchar_t* name;
  ALG_ID id;
};

const DigestAlgorithm* FindDigestAlgorithm(const char* oid) {
  static const DigestAlgorithm kAlgorithms[] = {
      {szOID_OIWSEC_sha1, L"SHA1", CALG_SHA1},
      {"2.16.840.1.101.3.4.2.1", L"SHA256", CALG_SHA_256},
      {"2.16.840.1.101.3.4.2.2", L"SHA384", CALG_SHA_384},
      {"2.16.840.1.101.3.4.2.3", L"SHA512", CALG_SHA_512},
  };
  for (const auto& algorithm : kAlgorithms) {
    if (oid && strcmp(oid, algorithm.oid) == 0)
      return &algorithm;
  }
  return nullptr;
}

// One DER element: its tag, where it starts and where its value lies.
struct DerElement {
  uint8_t tag;
  size_t start;
  size_t begin;
  size_t end;
};

// Reads the DER element at |at| of the first |size| bytes at |data|; false
// when it does not lie whole inside them.
bool ReadDer(const uint8_t* data,
             size_t size,
             size_t at,
             uint8_t tag,
             DerElement* element) {
  if (at > size || size - at < 2 || data[at] != tag)
    return false;
  size_t pos = at + 2;
  size_t length = data[at + 1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > sizeof(DWORD) || size - pos < count)
      return false;
    length = 0;
    for (size_t i = 0; i < count; ++i)
      length = (length << 8) | data[pos + i];
    pos += count;
  }
  if (length > size - pos)
    return false;
  *element = {tag, at, pos, pos + length};
  return true;
}

// The value octets of the DER element at the start of |der|: PKCS #7
// signers digest a content other than plain data without its tag and
// length. False when the element is cut short.
bool DerValue(const std::vector<uint8_t>& der, size_t* offset, size_t* size) {
  DerElement element;
  if (der.empty() || !ReadDer(der.data(), der.size(), 0, der[0], &element))
    return false;
  *offset = element.begin;
  *size = element.end - element.begin;
  return true;
}

// The dotted form of the object identifier whose value octets are at
// |data|; only identifiers whose first two arcs fit one octet.
std::string OidString(const uint8_t* data, size_t size) {
  if (size == 0 || data[0] >= 0x80)
    return std::string();
  std::string oid =
      std::to_string(data[0] / 40) + "." + std::to_string(data[0] % 40);
  uint64_t arc = 0;
  for (size_t i = 1; i < size; ++i) {
    arc = (arc << 7) | (data[i] & 0x7F);
    if (!(data[i] & 0x80)) {
      oid += "." + std::to_string(arc);
      arc = 0;
    }
  }
  return oid;
}

bool Digest(const DigestAlgorithm& algorithm,
            const uint8_t* data,
            size_t size,
            std::vector<uint8_t>* digest) {
  BYTE computed[64];
  DWORD computed_size = sizeof(computed);
  if (!Crypt()->hash_certificate(0, algorithm.id, 0, data,
                                 static_cast<DWORD>(size), computed,
                                 &computed_size)) {
    return false;
  }
  digest->assign(computed, computed + computed_size);
  return true;
}

// Whether the authenticated message digest of the signer |info| is that of
// the |size| bytes at |content|.
bool MessageDigestMatches(const CMSG_SIGNER_INFO& info,
                          DWORD encoding,
                          const uint8_t* content,
                          size_t size) {
  const DigestAlgorithm* algorithm =
      FindDigestAlgorithm(info.HashAlgorithm.pszObjId);
  std::vector<uint8_t> computed;
  if (!algorithm || !Digest(*algorithm, content, size, &computed))
    return false;
  for (DWORD i = 0; i < info.AuthAttrs.cAttr; ++i) {
    const CRYPT_ATTRIBUTE& attribute = info.AuthAttrs.rgAttr[i];
    if (strcmp(attribute.pszObjId, szOID_PKCS_9_MESSAGE_DIGEST) != 0 ||
        attribute.cValue != 1) {
      continue;
    }
    ScopedLocalDecoded decoded;
    DWORD decoded_size = 0;
    if (!Crypt()->decode_object(
            encoding, X509_OCTET_STRING, attribute.rgValue[0].pbData,
            attribute.rgValue[0].cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
            decoded.receive(), &decoded_size)) {
      return false;
    }
    const auto* digest = static_cast<const CRYPT_DATA_BLOB*>(decoded.get());
    return digest->cbData == computed.size() &&
           std::equal(computed.begin(), computed.end(), digest->pbData);
  }
  return false;
}

// Whether the signer's authenticated message digest is that of the content
// the message carries: the signature covers the attributes, and only this
// ties them to the content. Computed here: not every crypt32 digests such
// content the way the signer did.
bool SignerCoversContent(HCRYPTMSG message,
                         const CMSG_SIGNER_INFO& info,
                         DWORD encoding) {
  std::vector<uint8_t> content;
  size_t offset = 0;
  size_t size = 0;
  return GetMessageParam(message, CMSG_CONTENT_PARAM, 0, &content) &&
         DerValue(content, &offset, &size) &&
         MessageDigestMatches(info, encoding, content.data() + offset, size);
}

// Hashes pieces of a mapped image, each checked against its length.
class ImageHasher {
 public:
  ImageHasher(const uint8_t* data, size_t length)
      : data_(data), length_(length) {}
  ~ImageHasher() {
    if (hash_)
      ::CryptDestroyHash(hash_);
    if (provider_)
      ::CryptReleaseContext(provider_, 0);
  }
  bool Start(ALG_ID algorithm) {
    return ::CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT) &&
           ::CryptCreateHash(provider_, algorithm, 0, 0, &hash_);
  }
  bool Add(size_t begin, size_t end) {
    if (begin > end || end > length_)
      return false;
    return begin == end || ::CryptHashData(hash_, data_ + begin,
                                           static_cast<DWORD>(end - begin), 0);
  }
  bool Finish(std::vector<uint8_t>* digest) {
    DWORD size = 0;
    DWORD size_size = sizeof(size);
    if (!::CryptGetHashParam(hash_, HP_HASHSIZE, reinterpret_cast<BYTE*>(&size),
                             &size_size, 0)) {
      return false;
    }
    digest->resize(size);
    return ::CryptGetHashParam(hash_, HP_HASHVAL, digest->data(), &size, 0);
  }
  template <typename T>
  bool Read(size_t offset, T* value) const {
    if (offset > length_ || length_ - offset < sizeof(T))
      return false;
    memcpy(value, data_ + offset, sizeof(T));
    return true;
  }

 private:
  const uint8_t* data_;
  size_t length_;
  HCRYPTPROV provider_ = 0;
  HCRYPTHASH hash_ = 0;
};

}  // namespace

namespace internal {

bool HashImage(const uint8_t* data,
               size_t length,
               ALG_ID algorithm,
               std::vector<uint8_t>* digest) {
  ImageHasher image(data, length);
  LONG nt_offset = 0;
  WORD magic = 0;
  WORD section_count = 0;
  WORD optional_size = 0;
  DWORD headers_size = 0;
  if (!image.Read(offsetof(IMAGE_DOS_HEADER, e_lfanew), &nt_offset) ||
      nt_offset < 0) {
    return false;
  }
  const size_t nt = static_cast<size_t>(nt_offset);
  const size_t file_header = nt + offsetof(IMAGE_NT_HEADERS64, FileHeader);
  const size_t optional = nt + offsetof(IMAGE_NT_HEADERS64, OptionalHeader);
  if (!image.Read(file_header + offsetof(IMAGE_FILE_HEADER, NumberOfSections),
                  &section_count) ||
      !image.Read(
          file_header + offsetof(IMAGE_FILE_HEADER, SizeOfOptionalHeader),
          &optional_size) ||
      !image.Read(optional, &magic) ||
      !image.Read(optional + offsetof(IMAGE_OPTIONAL_HEADER64, SizeOfHeaders),
                  &headers_size)) {
    return false;
  }
  size_t directories = 0;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
    directories = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
  else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC)
    directories = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
  else
    return false;
  // The checksum lies at the same place in both header forms.
  const size_t checksum =
      optional + offsetof(IMAGE_OPTIONAL_HEADER64, CheckSum);
  const size_t security =
      optional + directories +
      IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
  IMAGE_DATA_DIRECTORY table = {};
  // The certificate table is the file's last part: anything after it would
  // be outside both the digest and the signature.
  if (security + sizeof(table) > optional + optional_size ||
      !image.Read(security, &table) ||
      (table.Size != 0 &&
       static_cast<uint64_t>(table.VirtualAddress) + table.Size != length) ||
      !image.Start(algorithm) || !image.Add(0, checksum) ||
      !image.Add(checksum + sizeof(DWORD), security) ||
      !image.Add(security + sizeof(table), headers_size)) {
    return false;
  }
  std::vector<IMAGE_SECTION_HEADER> sections(section_count);
  for (WORD i = 0; i < section_count; ++i) {
    if (!image.Read(optional + optional_size + i * sizeof(sections[i]),
                    &sections[i])) {
      return false;
    }
  }
  std::sort(sections.begin(), sections.end(),
            [](const IMAGE_SECTION_HEADER& a, const IMAGE_SECTION_HEADER& b) {
              return a.PointerToRawData < b.PointerToRawData;
            });
  size_t hashed = headers_size;
  for (const IMAGE_SECTION_HEADER& section : sections) {
    if (section.SizeOfRawData == 0)
      continue;
    const size_t begin = section.PointerToRawData;
    if (!image.Add(begin, begin + section.SizeOfRawData))
      return false;
    hashed += section.SizeOfRawData;
  }
  const size_t end = length - table.Size;
  if (hashed < end && !image.Add(hashed, end))
    return false;
  return image.Finish(digest);
}

}  // namespace internal

namespace {

using internal::HashImage;

// |path|'s Authenticode image digest with the algorithm |oid|: by the
// system where it offers that (Windows 8 and later), otherwise computed
// here.
bool ComputeImageDigest(const base::FilePath& path,
                        const std::string& oid,
                        std::vector<uint8_t>* digest) {
  const DigestAlgorithm* algorithm = FindDigestAlgorithm(oid.c_str());
  if (!algorithm)
    return false;
  const CryptFunctions& crypt = *Crypt();
  HCATADMIN admin = nullptr;
  if (crypt.acquire_context2 && crypt.calc_hash2 &&
      crypt.acquire_context2(&admin, nullptr, algorithm->name, nullptr, 0)) {
    base::win::ScopedHandle file(
        ::CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD size = 0;
    bool computed = false;
    if (file.IsValid() &&
        (crypt.calc_hash2(admin, file.Get(), &size, nullptr, 0) ||
         ::GetLastError() == ERROR_INSUFFICIENT_BUFFER)) {
      digest->resize(size);
      computed = crypt.calc_hash2(admin, file.Get(), &size, digest->data(), 0);
    }
    crypt.release_context(admin, 0);
    return computed && size == digest->size();
  }
  base::MemoryMappedFile file;
  return file.Initialize(path) &&
         HashImage(file.data(), file.length(), algorithm->id, digest);
}

// The chain of |certificate| up to a root, with |store| for the
// intermediates, as it was at |time| (null: now); with |usage| the chain
// must allow it.
PCCERT_CHAIN_CONTEXT BuildChain(PCCERT_CONTEXT certificate,
                                HCERTSTORE store,
                                const char* usage,
                                const FILETIME* time) {
  LPSTR usage_oid = const_cast<LPSTR>(usage);
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof(para);
  if (usage) {
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &usage_oid;
  }
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!Crypt()->get_chain(nullptr, certificate, const_cast<FILETIME*>(time),
                          store, &para, 0, nullptr, &chain)) {
    return nullptr;
  }
  return chain;
}

// 0 when the signer's chain at |time| (null: now) passes the Authenticode
// policy (a trusted root, valid for code signing), else the policy's error;
// |*chain_errors| gets the error bits of the chain's status.
DWORD AuthenticodePolicyError(PCCERT_CONTEXT certificate,
                              HCERTSTORE store,
                              const FILETIME* time,
                              DWORD* chain_errors) {
  ScopedChain chain(
      BuildChain(certificate, store, szOID_PKIX_KP_CODE_SIGNING, time));
  if (!chain.is_valid())
    return LastErrorOrInvalidData();
  *chain_errors = ChainStatusErrors(chain.get());
  return ChainPolicyError(chain.get(), CERT_CHAIN_POLICY_AUTHENTICODE);
}

enum class TimestampResult { kNone, kVerified, kInvalid };

// The time at which an RFC 3161 timestamp on the signature of |info| says
// it existed. Only a timestamp that proves itself counts: its signature,
// its authority's chain (trusted, for time stamping, at that time) and its
// imprint of this signature.
TimestampResult ReadTimestamp(const CMSG_SIGNER_INFO& info, FILETIME* time) {
  const CRYPT_ATTRIBUTE* token = nullptr;
  for (DWORD i = 0; i < info.UnauthAttrs.cAttr && !token; ++i) {
    const CRYPT_ATTRIBUTE& attribute = info.UnauthAttrs.rgAttr[i];
    if (strcmp(attribute.pszObjId, szOID_RFC3161_counterSign) == 0 &&
        attribute.cValue > 0) {
      token = &attribute;
    }
  }
  if (!token)
    return TimestampResult::kNone;
  const CryptFunctions& crypt = *Crypt();
  DWORD encoding = 0;
  ScopedCertStore store;
  ScopedCryptMsg message;
  std::vector<uint8_t> type;
  std::vector<uint8_t> content;
  std::vector<uint8_t> signer_bytes;
  if (!OpenSignedBlob(token->rgValue[0], &encoding, &store, &message) ||
      !GetMessageParam(message.get(), CMSG_INNER_CONTENT_TYPE_PARAM, 0,
                       &type) ||
      !GetMessageParam(message.get(), CMSG_CONTENT_PARAM, 0, &content) ||
      !GetMessageParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0,
                       &signer_bytes) ||
      signer_bytes.size() < sizeof(CMSG_SIGNER_INFO)) {
    return TimestampResult::kInvalid;
  }
  type.push_back(0);
  if (strcmp(reinterpret_cast<const char*>(type.data()), kTstInfoOid) != 0)
    return TimestampResult::kInvalid;
  const auto* tsa =
      reinterpret_cast<const CMSG_SIGNER_INFO*>(signer_bytes.data());
  ScopedCertificate certificate(
      FindSignerCertificate(store.get(), encoding, *tsa));
  if (!certificate.is_valid())
    return TimestampResult::kInvalid;
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(certificate.get());
  if (!crypt.msg_control(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE_EX,
                         &para)) {
    return TimestampResult::kInvalid;
  }
  // The token info, which may come still wrapped in its OCTET STRING; its
  // authority signs all of its encoding.
  const uint8_t* tst = content.data();
  size_t tst_size = content.size();
  DerElement wrapped;
  if (ReadDer(tst, tst_size, 0, 0x04, &wrapped)) {
    tst += wrapped.begin;
    tst_size = wrapped.end - wrapped.begin;
  }
  // TSTInfo: version, policy, messageImprint {algorithm {oid, ...}, hash},
  // serialNumber, genTime, ...
  DerElement sequence, version, policy, imprint, algorithm, oid, hashed, serial,
      generated;
  if (!MessageDigestMatches(*tsa, encoding, tst, tst_size) ||
      !ReadDer(tst, tst_size, 0, 0x30, &sequence) ||
      !ReadDer(tst, sequence.end, sequence.begin, 0x02, &version) ||
      !ReadDer(tst, sequence.end, version.end, 0x06, &policy) ||
      !ReadDer(tst, sequence.end, policy.end, 0x30, &imprint) ||
      !ReadDer(tst, imprint.end, imprint.begin, 0x30, &algorithm) ||
      !ReadDer(tst, algorithm.end, algorithm.begin, 0x06, &oid) ||
      !ReadDer(tst, imprint.end, algorithm.end, 0x04, &hashed) ||
      !ReadDer(tst, sequence.end, imprint.end, 0x02, &serial) ||
      !ReadDer(tst, sequence.end, serial.end, 0x18, &generated)) {
    return TimestampResult::kInvalid;
  }
  // The imprint ties the token to this signature.
  const DigestAlgorithm* imprint_algorithm = FindDigestAlgorithm(
      OidString(tst + oid.begin, oid.end - oid.begin).c_str());
  std::vector<uint8_t> expected;
  if (!imprint_algorithm ||
      !Digest(*imprint_algorithm, info.EncryptedHash.pbData,
              info.EncryptedHash.cbData, &expected) ||
      expected.size() != hashed.end - hashed.begin ||
      !std::equal(expected.begin(), expected.end(), tst + hashed.begin)) {
    return TimestampResult::kInvalid;
  }
  DWORD time_size = sizeof(*time);
  if (!crypt.decode_object(encoding, X509_CHOICE_OF_TIME, tst + generated.start,
                           static_cast<DWORD>(generated.end - generated.start),
                           0, nullptr, time, &time_size)) {
    return TimestampResult::kInvalid;
  }
  ScopedChain chain(BuildChain(certificate.get(), store.get(),
                               szOID_PKIX_KP_TIMESTAMP_SIGNING, time));
  if (!chain.is_valid() ||
      ChainPolicyError(chain.get(), CERT_CHAIN_POLICY_BASE) != 0 ||
      ChainStatusErrors(chain.get()) != 0) {
    return TimestampResult::kInvalid;
  }
  return TimestampResult::kVerified;
}

enum class NameResult { kRead, kEmpty, kFailed };

NameResult GetCertificateName(PCCERT_CONTEXT certificate, std::wstring* name) {
  const DWORD length = Crypt()->get_name(
      certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (length <= 1)
    return NameResult::kEmpty;
  name->assign(length, L'\0');
  if (Crypt()->get_name(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr,
                        &(*name)[0], length) != length) {
    return NameResult::kFailed;
  }
  name->resize(length - 1);
  return NameResult::kRead;
}

void LogChain(PCCERT_CONTEXT certificate,
              HCERTSTORE store,
              SignatureLog* log,
              uint32_t level) {
  log->Level(level).Write("Trust chain:");
  ScopedChain chain(BuildChain(certificate, store, nullptr, nullptr));
  if (!chain.is_valid()) {
    log->Level(level).Write("Cannot get trust chain\n");
    return;
  }
  log->Write("Chain trust status: ")
      << chain.get()->TrustStatus.dwErrorStatus << "\n";
  for (DWORD i = 0; i < chain.get()->cChain; ++i) {
    const CERT_SIMPLE_CHAIN* simple = chain.get()->rgpChain[i];
    for (DWORD j = 0; j < simple->cElement; ++j) {
      PCCERT_CONTEXT element = simple->rgpElement[j]->pCertContext;
      std::wstring name;
      BYTE hash[20];
      DWORD hash_size = sizeof(hash);
      if (GetCertificateName(element, &name) != NameResult::kRead ||
          !Crypt()->hash_certificate(0, CALG_SHA1, 0, element->pbCertEncoded,
                                     element->cbCertEncoded, hash,
                                     &hash_size)) {
        continue;
      }
      log->Write("Chain ") << j << " element: " << base::WideToUTF8(name) << " "
                           << base::HexEncode(hash, hash_size) << "\n";
    }
  }
}

// Whether a signer's chain may vouch for it: the policy passed it and its
// status has no error bit. Logs why not.
bool ChainIsTrusted(DWORD policy_error,
                    DWORD chain_errors,
                    uint32_t level,
                    SignatureLog* log) {
  if (policy_error != 0) {
    log->Level(level).Write("Signer chain fails the policy: ") << policy_error
                                                               << "\n";
    return false;
  }
  if (chain_errors != 0) {
    log->Level(level).Write("Signer chain has trust errors: ") << chain_errors
                                                               << "\n";
    return false;
  }
  return true;
}

// One signer of a message, named like the maker.
struct Signer {
  HCRYPTMSG message;
  HCERTSTORE store;
  DWORD encoding;
  DWORD index;
  const CMSG_SIGNER_INFO* info;
  PCCERT_CONTEXT certificate;
  uint32_t level;
  DWORD windows_index;
};

// A certificate name proves nothing by itself: anyone with a trusted
// code-signing certificate can nest a signature whose certificate bears the
// maker's name under an untrusted root, or copy a genuine one from another
// file. So the signer's chain must pass the Authenticode policy, and a
// signer WinVerifyTrust has not checked must verify as well: its signature,
// and its image digest against the file.
bool IsSignerTrusted(const Signer& signer,
                     const SignedFile* file,
                     SignatureLog* log) {
  const bool primary = signer.level == 0 && signer.index == 0;
  if (primary && file) {
    // WinVerifyTrust has judged this signer and built its chain at the time
    // of the signature's timestamp: a chain built now would refuse every
    // genuine file once the maker's certificate has expired.
    const std::vector<uint8_t>& verified = file->verified_signer;
    if (verified.size() != signer.certificate->cbCertEncoded ||
        !std::equal(verified.begin(), verified.end(),
                    signer.certificate->pbCertEncoded)) {
      log->Level(signer.level).Write("WinVerifyTrust rejects signature 0\n");
      return false;
    }
    return ChainIsTrusted(file->verified_policy_error,
                          file->verified_chain_errors, signer.level, log);
  }
  // From here on the index call of later Windows carries the policy.
  const bool windows_verifies = file &&
                                signer.windows_index != kNoWindowsIndex &&
                                base::win::GetVersion() >= base::win::WIN8;
  if (!windows_verifies) {
    // The chain as it was when a timestamp proves the signature was made;
    // without one, as it is now.
    FILETIME stamped = {};
    const FILETIME* time = nullptr;
    switch (ReadTimestamp(*signer.info, &stamped)) {
      case TimestampResult::kVerified:
        time = &stamped;
        break;
      case TimestampResult::kInvalid:
        log->Level(signer.level).Write("Timestamp does not verify\n");
        break;
      case TimestampResult::kNone:
        break;
    }
    DWORD chain_errors = 0;
    const DWORD policy_error = AuthenticodePolicyError(
        signer.certificate, signer.store, time, &chain_errors);
    if (!ChainIsTrusted(policy_error, chain_errors, signer.level, log))
      return false;
  }
  if (primary)
    return true;
  if (!file) {
    log->Level(signer.level).Write("Cannot verify a nested signer here\n");
    return false;
  }
  if (windows_verifies) {
    if (WindowsVerifiesSignature(file->path, signer.windows_index,
                                 signer.certificate)) {
      return true;
    }
    log->Level(signer.level).Write("WinVerifyTrust rejects signature ")
        << signer.windows_index << "\n";
    return false;
  }
  CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA para = {};
  para.cbSize = sizeof(para);
  para.dwSignerIndex = signer.index;
  para.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
  para.pvSigner = const_cast<CERT_CONTEXT*>(signer.certificate);
  if (!Crypt()->msg_control(signer.message, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX,
                            &para)) {
    log->Level(signer.level).Write("Signature does not verify: ")
        << base::logging::SystemErrorCodeToString(::GetLastError()) << "\n";
    return false;
  }
  if (!SignerCoversContent(signer.message, *signer.info, signer.encoding)) {
    log->Level(signer.level).Write("Signed attributes do not match content\n");
    return false;
  }
  std::string algorithm;
  std::vector<uint8_t> digest;
  if (!ReadImageDigest(signer.message, signer.encoding, &algorithm, &digest)) {
    log->Level(signer.level).Write("Cannot read signed image digest\n");
    return false;
  }
  std::vector<uint8_t> expected;
  if (algorithm == file->digest_algorithm && !file->digest.empty()) {
    expected = file->digest;
  } else if (!ComputeImageDigest(file->path, algorithm, &expected)) {
    log->Level(signer.level).Write("Cannot compute image digest ")
        << algorithm << "\n";
    return false;
  }
  if (digest != expected) {
    log->Level(signer.level).Write("Signed image digest is not the file's\n");
    return false;
  }
  return true;
}

bool FindSigner(ScopedCertStore& store,
                ScopedCryptMsg& message,
                uint32_t encoding,
                SignatureLog* log,
                uint32_t level,
                const SignedFile* file,
                DWORD windows_index) {
  const CryptFunctions* crypt = Crypt();
  DWORD count = 0;
  DWORD count_size = sizeof(count);
  if (!crypt || !crypt->msg_get_param(message.get(), CMSG_SIGNER_COUNT_PARAM, 0,
                                      &count, &count_size)) {
    log->Level(level).Write("Cannot get signer count\n");
    return false;
  }
  const std::wstring expected_name = base::UTF8ToWide(GetCompanyLegalName());
  for (DWORD index = 0; index < count; ++index) {
    DWORD info_size = 0;
    if (!crypt->msg_get_param(message.get(), CMSG_SIGNER_INFO_PARAM, index,
                              nullptr, &info_size)) {
      log->Level(level).Write("Cannot get signer size\n");
      continue;
    }
    std::vector<uint8_t> info_bytes(info_size);
    if (!crypt->msg_get_param(message.get(), CMSG_SIGNER_INFO_PARAM, index,
                              info_bytes.data(), &info_size) ||
        info_size < sizeof(CMSG_SIGNER_INFO)) {
      log->Level(level).Write("Cannot get signer info\n");
      continue;
    }
    const auto* info =
        reinterpret_cast<const CMSG_SIGNER_INFO*>(info_bytes.data());
    ScopedCertificate certificate(
        FindSignerCertificate(store.get(), encoding, *info));
    if (!certificate.is_valid()) {
      log->Level(level).Write("Cannot find certificate info in store\n");
      continue;
    }
    if (log->WantsChainDetails())
      LogChain(certificate.get(), store.get(), log, level);
    std::wstring name;
    const NameResult name_result = GetCertificateName(certificate.get(), &name);
    if (name_result == NameResult::kEmpty) {
      log->Level(level).Write("Cert signer name has 0 size\n");
      continue;
    }
    if (name_result == NameResult::kFailed) {
      log->Level(level).Write("Cannot get signer name\n");
      continue;
    }
    const Signer signer = {
        message.get(), store.get(),
        encoding,      index,
        info,          certificate.get(),
        level,         index == 0 ? windows_index : kNoWindowsIndex};
    if (name == expected_name && IsSignerTrusted(signer, file, log))
      return true;
    log->Level(level).Write("Tried signer ") << base::WideToUTF8(name) << "\n";
    // Windows numbers the primary signer's nested signatures from 1.
    DWORD nested_index = 1;
    for (DWORD i = 0; i < info->UnauthAttrs.cAttr; ++i) {
      const CRYPT_ATTRIBUTE& attribute = info->UnauthAttrs.rgAttr[i];
      if (strcmp(attribute.pszObjId, kNestedSignatureOid) != 0 ||
          attribute.cValue == 0) {
        continue;
      }
      if (level >= kMaxNestingLevel) {
        log->Level(level).Write("Nested signatures below level ")
            << kMaxNestingLevel << " are not searched\n";
        break;
      }
      const DWORD nested_windows_index =
          level == 0 && index == 0 ? nested_index++ : kNoWindowsIndex;
      DWORD nested_encoding = 0;
      ScopedCertStore nested_store;
      ScopedCryptMsg nested_message;
      if (!OpenSignedBlob(attribute.rgValue[0], &nested_encoding, &nested_store,
                          &nested_message)) {
        continue;
      }
      if (FindSigner(nested_store, nested_message, nested_encoding, log,
                     level + 1, file, nested_windows_index)) {
        return true;
      }
    }
  }
  log->Level(level).Write("Cannot find any viable signers\n");
  return false;
}

// Authenticode hashes neither the certificate table nor what is padded into
// it after the signature data, and Windows looks at that padding only when
// told to: bytes there ride along with a valid signature (an archive that a
// reader finds there, say). So the table must hold the one signature and
// no more than the padding to the next 8 bytes. Empty when it does, else
// why not.
std::string CheckCertificateTable(const base::FilePath& path) {
  base::MemoryMappedFile file;
  if (!file.Initialize(path))
    return "Cannot map the file: " + FormatWin32Error(::GetLastError());
  const uint8_t* data = file.data();
  const size_t length = file.length();
  const IMAGE_DATA_DIRECTORY* security = FindSecurityDirectory(data, length);
  if (!security)
    return "The file is no PE image";
  const size_t offset = security->VirtualAddress;
  const size_t size = security->Size;
  const size_t header = offsetof(WIN_CERTIFICATE, bCertificate);
  DWORD declared = 0;
  DerElement signature;
  if (size == 0 || offset > length || size > length - offset ||
      size < header ||
      !ReadDer(data + offset + header, size - header, 0, 0x30, &signature)) {
    return "No signature data in the certificate table of " +
           std::to_string(size) + " bytes at " + std::to_string(offset);
  }
  memcpy(&declared, data + offset, sizeof(declared));
  const size_t used = header + signature.end;
  const size_t padded = (used + 7) & ~static_cast<size_t>(7);
  if (declared < used || declared > size || size > padded) {
    return "The certificate table of " + std::to_string(size) +
           " bytes (its entry says " + std::to_string(declared) +
           ") holds more than its signature data of " + std::to_string(used) +
           " bytes padded to " + std::to_string(padded);
  }
  return std::string();
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
  const CryptFunctions* crypt = Crypt();
  if (!crypt) {
    if (log) {
      *log += "Cannot load WinVerifyTrust: " +
              base::logging::SystemErrorCodeToString(g_crypt_load_error) + "\n";
    }
    return false;
  }
  SignedFile file;
  file.path = path;
  const LONG status =
      CallWinVerifyTrust(path, nullptr, [&](LONG status, HANDLE state) {
        PCCERT_CONTEXT signer =
            VerifiedSigner(status, state, &file.verified_policy_error,
                           &file.verified_chain_errors);
        if (signer) {
          file.verified_signer.assign(
              signer->pbCertEncoded,
              signer->pbCertEncoded + signer->cbCertEncoded);
        }
      });
  if (status != ERROR_SUCCESS) {
    const DWORD error = ::GetLastError();
    if (!log)
      return false;
    // Go on: the signers show what Windows refused.
    *log += base::StringPrintf(
        "Cannot WinVerifyTrust: %ld, %s\n", status,
        base::logging::SystemErrorCodeToString(error).c_str());
  }
  if (g_verdict_adjuster_for_testing) {
    g_verdict_adjuster_for_testing(&file.verified_signer,
                                   &file.verified_policy_error,
                                   &file.verified_chain_errors);
  }
  // Not every WinVerifyTrust applies the Authenticode policy to the chain
  // it builds (Wine's passes one that ends at an untrusted root): its
  // acceptance counts only with that chain passing the policy, whoever the
  // outer signer is. Else a valid nested maker signature would vouch for a
  // file whose outer signature Windows refuses.
  const bool windows_accepted =
      status == ERROR_SUCCESS && !file.verified_signer.empty() &&
      file.verified_policy_error == 0 && file.verified_chain_errors == 0;
  if (status == ERROR_SUCCESS && !windows_accepted) {
    if (!log)
      return false;
    if (file.verified_signer.empty()) {
      *log += "WinVerifyTrust names no signer it verified\n";
    } else {
      *log += base::StringPrintf(
          "WinVerifyTrust's chain for the outer signer is not trusted: "
          "policy %lu, trust status %lu\n",
          file.verified_policy_error, file.verified_chain_errors);
    }
  }
  // What Windows accepted must not carry bytes that nothing signs.
  const std::string table_error =
      status == ERROR_SUCCESS ? CheckCertificateTable(path) : std::string();
  if (!table_error.empty()) {
    if (!log)
      return false;
    *log += table_error + "\n";
  }
  DWORD encoding = 0;
  ScopedCertStore store;
  ScopedCryptMsg message;
  if (!crypt->query_object(CERT_QUERY_OBJECT_FILE, path.value().c_str(),
                           CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                           CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, nullptr,
                           nullptr, store.receive(), message.receive(),
                           nullptr)) {
    if (log) {
      *log += "Cannot CryptQueryObject:" +
              base::logging::SystemErrorCodeToString(::GetLastError()) + "\n";
    }
    return false;
  }
  // Only what WinVerifyTrust has accepted is worth anything; without it
  // the result is false whatever the signers say.
  if (status == ERROR_SUCCESS &&
      !ReadImageDigest(message.get(), encoding, &file.digest_algorithm,
                       &file.digest)) {
    file.digest.clear();
  }
  TextSignatureLog text_log;
  NullSignatureLog null_log;
  SignatureLog* signature_log =
      log ? static_cast<SignatureLog*>(&text_log) : &null_log;
  const bool found =
      FindViableSigner(store, message, encoding, signature_log, 0, &file);
  if (log)
    *log += signature_log->GetText();
  return windows_accepted && table_error.empty() && found;
}

bool FindViableSigner(ScopedCertStore& store,
                      ScopedCryptMsg& message,
                      uint32_t encoding,
                      SignatureLog* log,
                      uint32_t level,
                      const SignedFile* file) {
  return FindSigner(store, message, encoding, log, level, file,
                    level == 0 ? 0 : kNoWindowsIndex);
}

TextSignatureLog::TextSignatureLog() = default;
TextSignatureLog::~TextSignatureLog() = default;

SignatureLog& TextSignatureLog::Level(uint32_t level) {
  stream_ << "Level " << level << ": ";
  return *this;
}

std::ostream& TextSignatureLog::Write(const std::string& text) {
  stream_ << text;
  return stream_;
}

bool TextSignatureLog::WantsChainDetails() const {
  return true;
}

std::string TextSignatureLog::GetText() const {
  return stream_.str();
}

NullSignatureLog::NullSignatureLog() : stream_(&buffer_) {}
NullSignatureLog::~NullSignatureLog() = default;

SignatureLog& NullSignatureLog::Level(uint32_t level) {
  return *this;
}

std::ostream& NullSignatureLog::Write(const std::string& text) {
  return stream_;
}

bool NullSignatureLog::WantsChainDetails() const {
  return false;
}

std::string NullSignatureLog::GetText() const {
  return std::string();
}

namespace internal {

void CloseCryptMsg(HCRYPTMSG message) {
  const DWORD error = ::GetLastError();
  Crypt()->msg_close(message);
  ::SetLastError(error);
}

void CloseCertStore(HCERTSTORE store) {
  const DWORD error = ::GetLastError();
  Crypt()->close_store(store, 0);
  ::SetLastError(error);
}

}  // namespace internal

SignedFile::SignedFile() = default;
SignedFile::~SignedFile() = default;

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

void SetPlatformVerdictAdjusterForTesting(PlatformVerdictAdjuster adjuster) {
  g_verdict_adjuster_for_testing = adjuster;
}

bool IsInstallerUnsigned() {
  base::FilePath own;
  bool own_signed = false;
  return base::PathService::Get(base::FILE_EXE, &own) &&
         GetSignatureChecker()->HasSecurityDirectory(own, &own_signed) &&
         !own_signed;
}

bool IsProgramSignatureAccepted(const base::FilePath& program,
                                const char* description) {
  if (IsInstallerUnsigned())
    return true;
  SignatureChecker* checker = GetSignatureChecker();
  std::string log;
  if (checker->VerifyFileSignature(program, &log)) {
    VLOG(1) << log;
    return true;
  }
  // Read again for the log only: a refusal is rare.
  base::FilePath own;
  bool own_signed = false;
  const bool own_known = base::PathService::Get(base::FILE_EXE, &own) &&
                         checker->HasSecurityDirectory(own, &own_signed);
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
