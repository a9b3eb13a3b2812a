#include "desktop/windows/installer/package_fetcher/signature_check.h"

#include <windows.h>
#include <wincrypt.h>

#include <softpub.h>
#include <wintrust.h>

#include <string.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/macros.h"
#include "base/path_service.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/windows_version.h"
#include "desktop/windows/installer/test/scoped_test_root.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

const LONG kNtOffset = 0x80;

// The headers of a PE image whose optional header has the form |magic|,
// lists |directories| data directories and has a security directory of
// |security_size| bytes. Every other directory has a size, so that a
// reader that takes the wrong header form finds a wrong entry.
std::string MakeImage(WORD magic, DWORD directories, DWORD security_size) {
  std::string bytes(0x200, '\0');
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(&bytes[0]);
  dos->e_magic = IMAGE_DOS_SIGNATURE;
  dos->e_lfanew = kNtOffset;
  char* nt = &bytes[kNtOffset];
  *reinterpret_cast<DWORD*>(nt) = IMAGE_NT_SIGNATURE;
  char* optional = nt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
  IMAGE_DATA_DIRECTORY* entries = nullptr;
  if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
    auto* header = reinterpret_cast<IMAGE_OPTIONAL_HEADER32*>(optional);
    header->Magic = magic;
    header->NumberOfRvaAndSizes = directories;
    entries = header->DataDirectory;
  } else {
    auto* header = reinterpret_cast<IMAGE_OPTIONAL_HEADER64*>(optional);
    header->Magic = magic;
    header->NumberOfRvaAndSizes = directories;
    entries = header->DataDirectory;
  }
  for (int i = 0; i < IMAGE_NUMBEROF_DIRECTORY_ENTRIES; ++i)
    entries[i] = {0x1000, 0x99};
  entries[IMAGE_DIRECTORY_ENTRY_SECURITY] = {0x180, security_size};
  return bytes;
}

std::string WithNtOffset(std::string bytes, LONG offset) {
  reinterpret_cast<IMAGE_DOS_HEADER*>(&bytes[0])->e_lfanew = offset;
  return bytes;
}

// A 64-bit image of 0x300 bytes of headers and one section, followed by a
// certificate table of 0x100 bytes, whose headers then |change| alters.
template <typename Change>
std::string MakeHashedImage(Change change) {
  std::string bytes(0x400, '\x5A');
  memset(&bytes[0], 0, 0x200);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(&bytes[0]);
  dos->e_magic = IMAGE_DOS_SIGNATURE;
  dos->e_lfanew = kNtOffset;
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(&bytes[kNtOffset]);
  nt->Signature = IMAGE_NT_SIGNATURE;
  nt->FileHeader.NumberOfSections = 1;
  nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER64);
  nt->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  nt->OptionalHeader.SizeOfHeaders = 0x200;
  nt->OptionalHeader.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
  nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = {0x300,
                                                                      0x100};
  auto* section = reinterpret_cast<IMAGE_SECTION_HEADER*>(nt + 1);
  section->PointerToRawData = 0x200;
  section->SizeOfRawData = 0x100;
  change(&bytes, nt, section);
  return bytes;
}

// What the digest covers, and that no header can make it read outside the
// image.
TEST(HashImageTest, DigestOfWellAndBadlyFormedImages) {
  using Headers = IMAGE_NT_HEADERS64;
  using Section = IMAGE_SECTION_HEADER;
  auto digest_of = [](const std::string& image, std::vector<uint8_t>* digest) {
    return internal::HashImage(reinterpret_cast<const uint8_t*>(image.data()),
                               image.size(), CALG_SHA_256, digest);
  };
  std::vector<uint8_t> genuine;
  ASSERT_TRUE(digest_of(
      MakeHashedImage([](std::string*, Headers*, Section*) {}), &genuine));
  const struct {
    const char* label;
    std::string image;
    bool hashed, same;
  } kCases[] = {
      {"other checksum and certificates",
       MakeHashedImage([](std::string* bytes, Headers* nt, Section*) {
         nt->OptionalHeader.CheckSum = 0x1234;
         (*bytes)[0x380] = 0;
       }),
       true, true},
      {"other code",
       MakeHashedImage(
           [](std::string* bytes, Headers*, Section*) { (*bytes)[0x280] = 0; }),
       true, false},
      {"no certificate table",
       MakeHashedImage([](std::string* bytes, Headers* nt, Section*) {
         nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY] = {};
         bytes->resize(0x300);
       }),
       true, true},
      {"cut inside the headers",
       MakeHashedImage([](std::string* bytes, Headers*, Section*) {
         bytes->resize(0x100);
       }),
       false, false},
      {"section past the end",
       MakeHashedImage([](std::string*, Headers*, Section* section) {
         section->PointerToRawData = 0x380;
       }),
       false, false},
      {"section headers past the end",
       MakeHashedImage([](std::string*, Headers* nt, Section*) {
         nt->FileHeader.NumberOfSections = 0xFFFF;
       }),
       false, false},
      {"certificate table larger than the file",
       MakeHashedImage([](std::string*, Headers* nt, Section*) {
         nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size =
             0x10000;
       }),
       false, false},
      {"certificate table not at the end",
       MakeHashedImage([](std::string*, Headers* nt, Section*) {
         nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY]
             .VirtualAddress = 0x2F0;
       }),
       false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> digest;
    EXPECT_EQ(c.hashed, digest_of(c.image, &digest));
    if (c.hashed) {
      EXPECT_EQ(c.same, digest == genuine);
    }
  }
}

class SignatureCheckTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.CreateUniqueTempDir()); }

  base::FilePath Write(const std::string& contents) {
    const base::FilePath path =
        dir_.GetPath().AppendASCII("file" + std::to_string(++files_));
    const int size = static_cast<int>(contents.size());
    EXPECT_EQ(size, base::WriteFile(path, contents.data(), size));
    return path;
  }

  base::ScopedTempDir dir_;
  int files_ = 0;
};

// A readable image tells whether it carries a signature; anything that is
// no complete PE header, however it is broken, leaves the state unknown.
TEST_F(SignatureCheckTest, SecurityDirectoryOfImages) {
  const WORD k32 = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
  const WORD k64 = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
  const std::string signed64 = MakeImage(k64, 16, 0x1234);
  const struct {
    const char* label;
    std::string contents;
    bool readable, is_signed;
  } kCases[] = {
      {"64-bit unsigned", MakeImage(k64, 16, 0), true, false},
      {"64-bit signed", signed64, true, true},
      {"32-bit unsigned", MakeImage(k32, 16, 0), true, false},
      {"32-bit signed", MakeImage(k32, 16, 0x1234), true, true},
      {"directory list ends before it", MakeImage(k64, 4, 0x1234), true, false},
      {"unknown optional header", MakeImage(0x777, 16, 0x1234), false, false},
      {"cut inside the optional header", signed64.substr(0, kNtOffset + 0x40),
       false, false},
      {"NT headers past the end", WithNtOffset(signed64, 0x7FFFFF00), false,
       false},
      {"negative NT offset", WithNtOffset(signed64, -8), false, false},
      {"NT offset at the end", WithNtOffset(signed64, 0x1FE), false, false},
      {"text", "MZ but no image", false, false},
      {"empty", "", false, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    bool is_signed = !c.is_signed;
    EXPECT_EQ(c.readable, HasSecurityDirectory(Write(c.contents), &is_signed));
    if (c.readable) {
      EXPECT_EQ(c.is_signed, is_signed);
    }
  }
  bool is_signed = true;
  EXPECT_FALSE(
      HasSecurityDirectory(dir_.GetPath().Append(L"missing"), &is_signed));
  base::FilePath exe;
  ASSERT_TRUE(base::PathService::Get(base::FILE_EXE, &exe));
  ASSERT_TRUE(HasSecurityDirectory(exe, &is_signed));
  EXPECT_FALSE(is_signed) << "test programs are not signed";
}

// A security directory that points at no signature verifies as nothing,
// and the log says why.
TEST_F(SignatureCheckTest, ForgedSecurityDirectoryFailsVerification) {
  const base::FilePath forged =
      Write(MakeImage(IMAGE_NT_OPTIONAL_HDR64_MAGIC, 16, 0x40));
  std::string log;
  EXPECT_FALSE(VerifyFileSignature(forged, &log));
  EXPECT_EQ(0u, log.find("Cannot WinVerifyTrust: ")) << log;
  EXPECT_NE(std::string::npos, log.find("\nCannot CryptQueryObject:")) << log;
}

// Wine's chain engine reads the Root store once, when the process first
// builds a chain, and never again: a root that a test adds after some other
// test built a chain would go unseen. So the test root is trusted before
// any test runs, whatever their order, and stays until the last has run.
class TestRootEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    base::FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    root_ = std::make_unique<test::ScopedTestRoot>();
    ASSERT_TRUE(root_->Trust(
        bin.AppendASCII("signature_fixtures").AppendASCII("root.cer")));
  }
  void TearDown() override { root_.reset(); }

 private:
  std::unique_ptr<test::ScopedTestRoot> root_;
};
testing::Environment* const g_test_root_environment =
    testing::AddGlobalTestEnvironment(new TestRootEnvironment);

// The signed images of the build (scripts/make_signature_fixtures.sh), with
// their test root in the machine's root store while a test runs.
class SignedImagesTest : public testing::Test {
 protected:
  void SetUp() override {
    base::FilePath bin;
    ASSERT_TRUE(base::PathService::Get(base::DIR_EXE, &bin));
    dir_ = bin.AppendASCII("signature_fixtures");
    ASSERT_TRUE(root_.Trust(dir_.AppendASCII("root.cer")));
  }

  base::FilePath Image(const char* name) { return dir_.AppendASCII(name); }

  base::FilePath dir_;
  test::ScopedTestRoot root_;
};

// Wine's WinVerifyTrust passes chains that Windows refuses, and builds
// them at the present time whatever the signature's timestamp.
bool RunsOnWine() {
  return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"),
                          "wine_get_version") != nullptr;
}

struct ImageCase {
  const char* image;
  bool accepted;
  // Log lines that must appear in this order, and one that must not.
  std::vector<std::string> lines;
  const char* absent;
};

// Checks every image of |cases| under the Windows version |version|.
void CheckImages(const base::FilePath& dir,
                 base::win::Version version,
                 const std::vector<ImageCase>& cases) {
  base::win::OSInfo::Record record = base::win::OSInfo::GetInstance()->record();
  record.version = version;
  base::win::ScopedOSInfoOverride override_version(record);
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.image);
    const base::FilePath image = dir.AppendASCII(c.image);
    std::string log = "earlier\n";
    EXPECT_EQ(c.accepted, VerifyFileSignature(image, &log)) << log;
    EXPECT_EQ(c.accepted, VerifyFileSignature(image, nullptr));
    size_t at = 0;
    for (const std::string& line : c.lines) {
      at = log.find(line, at);
      if (at == std::string::npos) {
        ADD_FAILURE() << line << " in\n" << log;
        break;
      }
    }
    if (c.absent) {
      EXPECT_EQ(std::string::npos, log.find(c.absent)) << log;
    }
  }
}

TEST_F(SignedImagesTest, MakerSignaturesAreAcceptedAndOthersRefused) {
  std::string root;
  ASSERT_TRUE(base::ReadFileToString(Image("root.cer"), &root));
  BYTE thumbprint[20];
  DWORD size = sizeof(thumbprint);
  ASSERT_TRUE(::CryptHashCertificate(
      0, CALG_SHA1, 0, reinterpret_cast<const BYTE*>(root.data()),
      static_cast<DWORD>(root.size()), thumbprint, &size));
  const std::string root_element =
      "Chain 1 element: Kavor Test Root " + base::HexEncode(thumbprint, size);
  const std::string maker = "Tried signer Kavor Software Ltd\n";
  const std::string other = "Level 0: Tried signer Other Test Publisher\n";
  CheckImages(
      dir_, base::win::WIN7,
      {
          {"maker.exe",
           true,
           {"earlier\nLevel 0: Trust chain:Chain trust status: 0\n",
            "Chain 0 element: Kavor Software Ltd ", root_element},
           "Tried signer"},
          {"other.exe",
           false,
           {other, "Level 0: Cannot find any viable signers\n"},
           nullptr},
          {"tampered.exe",
           false,
           {"earlier\nCannot WinVerifyTrust: ", "Level 0: Trust chain:"},
           nullptr},
          {"unsigned.exe",
           false,
           {"earlier\nCannot WinVerifyTrust: ", "\nCannot CryptQueryObject:"},
           "Level"},
          // Nested signatures are searched one level down.
          {"dual.exe",
           true,
           {other, "Level 1: Trust chain:"},
           "Level 1: Tried"},
          {"dual_sha1.exe",
           true,
           {other, "Level 1: Trust chain:"},
           "Level 1: Tried"},
          // A certificate named like the maker vouches for nothing by itself.
          {"forged_untrusted.exe",
           false,
           {other, "Level 1: Signer chain fails the policy: ",
            "Level 1: " + maker, "Level 0: Cannot find any viable signers\n"},
           nullptr},
          {"forged_digest.exe",
           false,
           {other, "Level 1: Signed image digest is not the file's\n",
            "Level 1: " + maker},
           nullptr},
          {"forged_content.exe",
           false,
           {other, "Level 1: Signed attributes do not match content\n",
            "Level 1: " + maker},
           nullptr},
          {"forged_attrs.exe",
           false,
           {other, "Level 1: Signature does not verify: ", "Level 1: " + maker},
           "do not match"},
          // A nested signer is judged at the time its timestamp proves, when
          // that proof holds.
          {"expired_dual.exe",
           true,
           {other, "Level 1: Trust chain:"},
           "Level 1: Tried"},
          {"expired_untrusted_ts.exe",
           false,
           {other, "Level 1: Timestamp does not verify\n",
            "Level 1: Signer chain fails the policy: 2148204801\n"},
           nullptr},
          {"expired_copied_ts.exe",
           false,
           {other, "Level 1: Timestamp does not verify\n",
            "Level 1: Signer chain fails the policy: 2148204801\n"},
           nullptr},
          // A name is not enough at the primary level either.
          {"impostor.exe",
           false,
           {"Level 0: Signer chain fails the policy: ", "Level 0: " + maker},
           nullptr},
          // Nor a chain that stops short of any root, whatever the policy
          // makes of it.
          {"partial.exe",
           false,
           {"Level 0: Signer chain has trust errors: ", "Level 0: " + maker},
           nullptr},
          {"partial_nested.exe",
           false,
           {other, "Level 1: Signer chain has trust errors: ",
            "Level 1: " + maker, "Level 0: Cannot find any viable signers\n"},
           nullptr},
      });
}

// Bytes changed after signing, in the code or in the package appended to
// the image, void the signature, also where a nested maker signature would
// otherwise vouch for the file.
TEST_F(SignedImagesTest, SignedBytesChangedAfterSigningAreRefused) {
  for (const base::win::Version version :
       {base::win::WIN7, base::win::WIN8}) {
    SCOPED_TRACE(static_cast<int>(version));
    std::vector<ImageCase> cases;
    for (const char* image :
         {"tampered.exe", "package_tampered.exe", "dual_tampered.exe",
          "package_dual_tampered.exe"}) {
      cases.push_back(
          {image, false, {"earlier\nCannot WinVerifyTrust: "}, nullptr});
    }
    CheckImages(dir_, version, cases);
  }
  // As they were signed.
  CheckImages(dir_, base::win::WIN7,
              {{"package.exe", true, {}, "Tried signer"},
               {"package_dual.exe", true, {"Level 1: Trust chain:"},
                "Level 1: Tried"}});
}

// Nothing signs the certificate table: a table that holds more than its
// signature data padded to 8 bytes is refused, whatever the bytes (an
// archive, or part of one, that a reader would find there).
TEST_F(SignedImagesTest, CertificateTableHoldsOnlyTheSignature) {
  const std::string refused = "earlier\nThe certificate table of ";
  CheckImages(dir_, base::win::WIN7,
              {{"padded_archive.exe", false, {refused}, nullptr},
               {"padded_garbage.exe", false, {refused}, nullptr},
               {"straddling_archive.exe", false, {refused}, nullptr},
               {"package.exe", true, {}, "certificate table"},
               // Its archive ends where the table starts.
               {"package_aligned.exe", true, {}, "certificate table"}});
}

// What Windows refuses stays refused, also when the signer search behind
// it finds a viable maker signature: here the outer signature, the one
// WinVerifyTrust judges, chains to an untrusted root (Windows refuses it;
// Wine's WinVerifyTrust passes it, and the chain it built must then refuse
// it), and the nested maker signature is valid. Before Windows 8 the search
// proves the nested signer itself, and the log shows it found; later ones
// ask WinVerifyTrust for it by index, which Wine answers with the outer
// signature.
TEST_F(SignedImagesTest, NestedMakerSignatureCannotOverruleWindows) {
  const std::string stranger =
      "Level 0: Tried signer Untrusted Test Publisher\n";
  CheckImages(dir_, base::win::WIN7,
              {{"untrusted_dual.exe",
                false,
                {stranger, "Level 1: Trust chain:Chain trust status: 0\n"},
                "Level 1: Tried"}});
  CheckImages(dir_, base::win::WIN8,
              {{"untrusted_dual.exe", false, {stranger}, nullptr}});
}

// A chain that ends short of any root fails no Authenticode policy of
// Wine's: only its trust status, which calls it partial, tells. Windows
// refuses such a file in WinVerifyTrust already; where WinVerifyTrust
// passes it, that status alone must keep a valid maker signature nested
// below the outer one from vouching for the file. The search proves the
// maker's signature itself one level down before Windows 8, and two levels
// down (inside another publisher's nested signature) on every version:
// later ones verify the first level through WinVerifyTrust by index, which
// Wine does not know. (The other two conditions on WinVerifyTrust's
// acceptance, a verified signer and a chain that passes the policy, cannot
// refuse a file alone under Wine: each policy failure of Wine's comes with
// an error bit in the chain's status, and its WinVerifyTrust refuses a
// message without signers or without the signer's certificate. The next
// test changes its verdict for them.)
TEST_F(SignedImagesTest, OuterChainWithTrustErrorsCannotBeOverruled) {
  const std::string refused =
      RunsOnWine()
          ? "earlier\nWinVerifyTrust's chain for the outer signer is not "
            "trusted: policy 0, trust status " +
                std::to_string(CERT_TRUST_IS_PARTIAL_CHAIN) + "\n"
          : "earlier\nCannot WinVerifyTrust: ";
  const std::string outer =
      "Level 0: Tried signer Partial Chain Test Publisher\n";
  // Absent when the search found a viable maker signature.
  const char* const none_found = "Cannot find any viable signers";
  CheckImages(
      dir_, base::win::WIN7,
      {{"partial_outer_dual.exe",
        false,
        {refused, outer, "Level 1: Trust chain:Chain trust status: 0\n"},
        none_found}});
  for (const base::win::Version version : {base::win::WIN7, base::win::WIN8}) {
    SCOPED_TRACE(static_cast<int>(version));
    CheckImages(
        dir_, version,
        {{"partial_outer_deep.exe",
          false,
          {refused, outer, "Level 1: Tried signer Other Test Publisher\n",
           "Level 2: Trust chain:Chain trust status: 0\n"},
          none_found}});
  }
}

// Installs a verdict adjuster while it lives.
class ScopedVerdictAdjuster {
 public:
  explicit ScopedVerdictAdjuster(PlatformVerdictAdjuster adjuster) {
    SetPlatformVerdictAdjusterForTesting(adjuster);
  }
  ~ScopedVerdictAdjuster() { SetPlatformVerdictAdjusterForTesting(nullptr); }

 private:
  DISALLOW_COPY_AND_ASSIGN(ScopedVerdictAdjuster);
};

// WinVerifyTrust returns success but names no signer it verified.
void ForgetVerifiedSigner(std::vector<uint8_t>* verified_signer,
                          DWORD* policy_error,
                          DWORD* chain_errors) {
  verified_signer->clear();
}

// The Authenticode policy refuses the outer signer's chain, here for a
// usage other than code signing (which Wine's policy does not check), with
// no error bit in the chain's trust status: the policy's verdict alone
// tells.
void RefuseOuterUsage(std::vector<uint8_t>* verified_signer,
                      DWORD* policy_error,
                      DWORD* chain_errors) {
  *policy_error = static_cast<DWORD>(CERT_E_WRONG_USAGE);
  *chain_errors = 0;
}

// WinVerifyTrust's acceptance counts only when it names the signer it
// verified and the chain it built for that signer passes the policy, each
// on its own: a valid maker signature nested below the outer one does not
// make up for either. The outer signer of these files, another publisher's,
// is fully trusted, so with the verdict as WinVerifyTrust gives it they are
// accepted through the nested maker signature (one level down before
// Windows 8; two levels down, inside another publisher's nested signature,
// on every version). Then the verdict is changed in one respect only, and
// the search still finds the maker's signature viable.
TEST_F(SignedImagesTest, OuterVerdictWithoutSignerOrPolicyCannotBeOverruled) {
  const std::string outer = "Level 0: Tried signer Other Test Publisher\n";
  const std::string maker_found =
      "Level 1: Trust chain:Chain trust status: 0\n";
  const std::vector<std::string> deep_found = {
      outer, "Level 1: Tried signer Other Test Publisher\n",
      "Level 2: Trust chain:Chain trust status: 0\n"};
  // Absent when the search found a viable maker signature.
  const char* const none_found = "Cannot find any viable signers";
  const struct {
    const char* label;
    PlatformVerdictAdjuster adjuster;
    // The line that says why the file is refused; empty: accepted.
    std::string refusal;
  } kCases[] = {
      {"as WinVerifyTrust gives it", nullptr, ""},
      {"no verified signer", &ForgetVerifiedSigner,
       "earlier\nWinVerifyTrust names no signer it verified\n"},
      {"chain fails the policy alone", &RefuseOuterUsage,
       "earlier\nWinVerifyTrust's chain for the outer signer is not trusted: "
       "policy " +
           std::to_string(static_cast<DWORD>(CERT_E_WRONG_USAGE)) +
           ", trust status 0\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ScopedVerdictAdjuster adjuster(c.adjuster);
    const bool accepted = c.refusal.empty();
    auto lines = [&](std::vector<std::string> found) {
      if (!accepted)
        found.insert(found.begin(), c.refusal);
      return found;
    };
    {
      SCOPED_TRACE("before Windows 8");
      CheckImages(
          dir_, base::win::WIN7,
          {{"dual.exe", accepted, lines({outer, maker_found}), none_found},
           {"dual_deep.exe", accepted, lines(deep_found), none_found}});
    }
    SCOPED_TRACE("Windows 8");
    CheckImages(dir_, base::win::WIN8,
                {{"dual_deep.exe", accepted, lines(deep_found), none_found}});
  }
}

// Windows 8 and later verify the nested signature themselves; Wine, which
// knows no signature index, verifies the outer one, whose signer is not
// the maker's.
TEST_F(SignedImagesTest, LaterWindowsVerifyNestedSignaturesByIndex) {
  const std::string other = "Level 0: Tried signer Other Test Publisher\n";
  CheckImages(dir_, base::win::WIN8,
              {
                  {"maker.exe",
                   true,
                   {"Chain 0 element: Kavor Software Ltd "},
                   "Tried"},
                  {"dual.exe",
                   false,
                   {other, "Level 1: WinVerifyTrust rejects signature 1\n"},
                   nullptr},
                  // The index call carries the policy.
                  {"forged_untrusted.exe",
                   false,
                   {other, "Level 1: WinVerifyTrust rejects signature 1\n"},
                   "Signer chain fails"},
              });
}

// The primary signer is judged on the chain WinVerifyTrust built for it,
// at the time of the signature's timestamp: a chain check of its own at the
// present time would refuse every file once the maker's certificate has
// expired. Wine builds that chain at the present time whatever the
// timestamp, so there the expired certificate is still refused.
TEST_F(SignedImagesTest, ExpiredMakerCertificateIsJudgedAtItsTimestamp) {
  const bool wine = RunsOnWine();
  std::string log;
  EXPECT_EQ(!wine, VerifyFileSignature(Image("expired.exe"), &log)) << log;
  EXPECT_EQ(!wine, log.find("Level 0: Signer chain fails the policy: ") ==
                       std::string::npos)
      << log;
  EXPECT_NE(std::string::npos, log.find("Chain 0 element: Kavor Software Ltd "))
      << log;
}

// Without the file's WinVerifyTrust verdict the primary signer's chain
// must pass the policy by itself.
TEST_F(SignedImagesTest, PrimarySignerWithoutFileNeedsATrustedChain) {
  for (const auto& c : {std::make_pair("maker.exe", true),
                        std::make_pair("impostor.exe", false)}) {
    SCOPED_TRACE(c.first);
    DWORD encoding = 0;
    ScopedCertStore store;
    ScopedCryptMsg message;
    ASSERT_TRUE(::CryptQueryObject(
        CERT_QUERY_OBJECT_FILE, Image(c.first).value().c_str(),
        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
        CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, nullptr, nullptr,
        store.receive(), message.receive(), nullptr));
    TextSignatureLog log;
    EXPECT_EQ(c.second, FindViableSigner(store, message, encoding, &log, 0));
    EXPECT_EQ(c.second,
              log.GetText().find("Level 0: Signer chain fails the policy: ") ==
                  std::string::npos)
        << log.GetText();
  }
}

// A message signed by |certificate| whose signer carries |nested| (when
// not empty) as its nested signature.
std::vector<BYTE> SignWithNested(HCRYPTPROV provider,
                                 PCCERT_CONTEXT certificate,
                                 std::vector<BYTE> nested) {
  CRYPT_ATTR_BLOB value = {static_cast<DWORD>(nested.size()), nested.data()};
  CRYPT_ATTRIBUTE attribute = {const_cast<LPSTR>("1.3.6.1.4.1.311.2.4.1"), 1,
                               &value};
  CMSG_SIGNER_ENCODE_INFO signer = {sizeof(signer)};
  signer.pCertInfo = certificate->pCertInfo;
  signer.hCryptProv = provider;
  signer.dwKeySpec = AT_SIGNATURE;
  signer.HashAlgorithm.pszObjId = const_cast<LPSTR>(szOID_OIWSEC_sha1);
  if (!nested.empty()) {
    signer.cUnauthAttr = 1;
    signer.rgUnauthAttr = &attribute;
  }
  CERT_BLOB encoded = {certificate->cbCertEncoded, certificate->pbCertEncoded};
  CMSG_SIGNED_ENCODE_INFO info = {sizeof(info)};
  info.cSigners = 1;
  info.rgSigners = &signer;
  info.cCertEncoded = 1;
  info.rgCertEncoded = &encoded;
  ScopedCryptMsg message(
      ::CryptMsgOpenToEncode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                             CMSG_SIGNED, &info, nullptr, nullptr));
  BYTE content[] = {1, 2, 3};
  DWORD size = 0;
  std::vector<BYTE> bytes;
  if (message.is_valid() &&
      ::CryptMsgUpdate(message.get(), content, sizeof(content), TRUE) &&
      ::CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, nullptr,
                         &size)) {
    bytes.resize(size);
    if (!::CryptMsgGetParam(message.get(), CMSG_CONTENT_PARAM, 0, bytes.data(),
                            &size)) {
      bytes.clear();
    }
  }
  return bytes;
}

// A message nested deeper than any real file's cannot make the search
// recurse as deep as it likes.
TEST(SignatureNestingTest, DeepNestingIsNotSearched) {
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(::CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL,
                                     CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(::CryptGenKey(provider, AT_SIGNATURE, 1024 << 16, &key));
  BYTE name[128];
  CERT_NAME_BLOB subject = {sizeof(name), name};
  ASSERT_TRUE(::CertStrToNameW(X509_ASN_ENCODING, L"CN=Nesting Publisher",
                               CERT_X500_NAME_STR, nullptr, name,
                               &subject.cbData, nullptr));
  PCCERT_CONTEXT certificate = ::CertCreateSelfSignCertificate(
      provider, &subject, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(certificate);
  std::vector<BYTE> blob;
  for (int i = 0; i < 6; ++i)
    blob = SignWithNested(provider, certificate, blob);
  ::CertFreeCertificateContext(certificate);
  ::CryptDestroyKey(key);
  ::CryptReleaseContext(provider, 0);
  ASSERT_FALSE(blob.empty());

  CERT_BLOB outer = {static_cast<DWORD>(blob.size()), blob.data()};
  DWORD encoding = 0;
  ScopedCertStore store;
  ScopedCryptMsg message;
  ASSERT_TRUE(::CryptQueryObject(
      CERT_QUERY_OBJECT_BLOB, &outer, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
      CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, nullptr, nullptr,
      store.receive(), message.receive(), nullptr));
  TextSignatureLog log;
  EXPECT_FALSE(FindViableSigner(store, message, encoding, &log, 0));
  const std::string text = log.GetText();
  EXPECT_NE(std::string::npos,
            text.find("Level 2: Tried signer Nesting Publisher\n"
                      "Level 2: Nested signatures below level 2 are not "
                      "searched\n"))
      << text;
  EXPECT_EQ(std::string::npos, text.find("Level 3:")) << text;
}

// Without a log nothing more is done once Windows refuses: the thread's
// last error is still the one of the Windows check.
TEST_F(SignedImagesTest, WithoutLogARefusalEndsAtTheWindowsCheck) {
  EXPECT_FALSE(VerifyFileSignature(Image("unsigned.exe"), nullptr));
  EXPECT_EQ(static_cast<DWORD>(TRUST_E_NOSIGNATURE), ::GetLastError());
}

TEST_F(SignedImagesTest, SecurityDirectoryOfSignedImages) {
  for (const auto& c : {std::make_pair("maker.exe", true),
                        std::make_pair("unsigned.exe", false)}) {
    bool is_signed = !c.second;
    EXPECT_TRUE(HasSecurityDirectory(Image(c.first), &is_signed));
    EXPECT_EQ(c.second, is_signed) << c.first;
  }
  bool is_signed = false;
  EXPECT_FALSE(HasSecurityDirectory(Image("root.cer"), &is_signed));
}

TEST(SignatureLogTest, TextLogCollectsNullLogDrops) {
  TextSignatureLog text;
  NullSignatureLog null;
  for (SignatureLog* log :
       {static_cast<SignatureLog*>(&text), static_cast<SignatureLog*>(&null)}) {
    log->Level(2).Write("Chain ") << 3 << " element\n";
    log->Write("end");
  }
  EXPECT_EQ("Level 2: Chain 3 element\nend", text.GetText());
  EXPECT_TRUE(text.WantsChainDetails());
  EXPECT_EQ("", null.GetText());
  EXPECT_FALSE(null.WantsChainDetails());
}

// Closing an owned handle leaves the error of the call before it visible.
TEST(SignatureLogTest, ReplacingAStoreKeepsTheLastError) {
  ScopedCertStore store(
      ::CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  ASSERT_TRUE(store.is_valid());
  ::SetLastError(ERROR_FILE_CORRUPT);
  store.reset();
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_CORRUPT), ::GetLastError());
}

}  // namespace
}  // namespace installer
