#include "base/cpu.h"

#include <string.h>

#include <map>
#include <string>
#include <utility>

#include "gtest/gtest.h"

namespace base {
namespace {

// A processor described leaf by leaf; leaves it lacks read as zeros.
class FakeProcessor : public CPU::InstructionSource {
 public:
  void SetLeaf(uint32_t leaf, CPU::CpuidRegisters registers) {
    leaves_[leaf] = registers;
  }
  void SetVendor(const char (&vendor)[13], uint32_t max_leaf) {
    CPU::CpuidRegisters r = {max_leaf, 0, 0, 0};
    memcpy(&r.ebx, vendor, 4);
    memcpy(&r.edx, vendor + 4, 4);
    memcpy(&r.ecx, vendor + 8, 4);
    SetLeaf(0, r);
  }
  void SetBrand(const char* brand, uint32_t max_extended_leaf) {
    char buffer[48] = {};
    memcpy(buffer, brand, strnlen(brand, 48));
    SetLeaf(0x80000000, {max_extended_leaf, 0, 0, 0});
    for (uint32_t i = 0; i < 3; ++i) {
      CPU::CpuidRegisters r;
      memcpy(&r, buffer + i * 16, 16);
      SetLeaf(0x80000002 + i, r);
    }
  }
  void set_xcr0(uint64_t xcr0) { xcr0_ = xcr0; }
  int xgetbv_calls() const { return xgetbv_calls_; }

  CPU::CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) const override {
    auto it = leaves_.find(leaf);
    return it == leaves_.end() ? CPU::CpuidRegisters{} : it->second;
  }
  uint64_t Xgetbv(uint32_t xcr) const override {
    ++xgetbv_calls_;
    return xcr == 0 ? xcr0_ : 0;
  }

 private:
  std::map<uint32_t, CPU::CpuidRegisters> leaves_;
  uint64_t xcr0_ = 0;
  mutable int xgetbv_calls_ = 0;
};

constexpr uint32_t kAvxBits = (1u << 26) | (1u << 27) | (1u << 28);

TEST(CPUTest, SignatureFields) {
  FakeProcessor intel;
  intel.SetVendor("GenuineIntel", 7);
  // Family 6, extended model 9, model 14, stepping 10, type 0.
  intel.SetLeaf(1, {0x000906EA, 0, 0, 0});
  CPU cpu(intel);
  EXPECT_EQ("GenuineIntel", cpu.vendor());
  EXPECT_EQ(0x000906EA, cpu.signature());
  EXPECT_EQ(6, cpu.family());
  EXPECT_EQ(158, cpu.model());
  EXPECT_EQ(9, cpu.extended_model());
  EXPECT_EQ(10, cpu.stepping());
  EXPECT_EQ(0, cpu.type());
  EXPECT_EQ(0, cpu.extended_family());

  // Family 17h: base family 15, extended family 8; type bits 12-13.
  FakeProcessor zen;
  zen.SetVendor("AuthenticAMD", 13);
  zen.SetLeaf(1, {0x00800F11 | (2 << 12), 0, 0, 0});
  CPU amd(zen);
  EXPECT_EQ("AuthenticAMD", amd.vendor());
  EXPECT_EQ(15, amd.family());
  EXPECT_EQ(8, amd.extended_family());
  EXPECT_EQ(1, amd.model());
  EXPECT_EQ(2, amd.type());

  FakeProcessor k8;
  k8.SetVendor("AuthenticAMD", 1);
  k8.SetLeaf(1, {0x00020F32, 0, 0, 0});
  CPU old_amd(k8);
  EXPECT_EQ(15, old_amd.family());
  EXPECT_EQ(0, old_amd.extended_family());
  EXPECT_EQ(0x23, old_amd.model());
}

// Each flag is set by its own bit of leaf 1 and by no other.
TEST(CPUTest, FeatureFlags) {
  const struct {
    const char* name;
    uint32_t ecx;
    uint32_t edx;
    bool (CPU::*has)() const;
  } kFlags[] = {
      {"mmx", 0, 1u << 23, &CPU::has_mmx},
      {"sse", 0, 1u << 25, &CPU::has_sse},
      {"sse2", 0, 1u << 26, &CPU::has_sse2},
      {"sse3", 1u << 0, 0, &CPU::has_sse3},
      {"ssse3", 1u << 9, 0, &CPU::has_ssse3},
      {"sse41", 1u << 19, 0, &CPU::has_sse41},
      {"sse42", 1u << 20, 0, &CPU::has_sse42},
      {"popcnt", 1u << 23, 0, &CPU::has_popcnt},
      {"aesni", 1u << 25, 0, &CPU::has_aesni},
  };
  for (const auto& flag : kFlags) {
    FakeProcessor p;
    p.SetVendor("GenuineIntel", 1);
    p.SetLeaf(1, {0x306A9, 0, flag.ecx, flag.edx});
    CPU cpu(p);
    for (const auto& other : kFlags)
      EXPECT_EQ(&other == &flag, (cpu.*other.has)())
          << flag.name << " " << other.name;
    EXPECT_FALSE(cpu.has_avx());
    EXPECT_FALSE(cpu.has_non_stop_tsc());
  }
}

TEST(CPUTest, AvxNeedsProcessorAndSystemSupport) {
  struct {
    uint32_t ecx;
    uint64_t xcr0;
    bool avx;
    bool xgetbv_called;
  } const kCases[] = {
      {kAvxBits, 0x7, true, true},
      {kAvxBits, 0x6, true, true},
      {kAvxBits, 0x3, false, true},                 // AVX state not saved.
      {kAvxBits, 0x5, false, true},                 // SSE state not saved.
      {kAvxBits & ~(1u << 27), 0x7, false, false},  // No OSXSAVE.
      {kAvxBits & ~(1u << 28), 0x7, false, false},  // No AVX.
      {kAvxBits & ~(1u << 26), 0x7, false, false},  // No XSAVE.
  };
  for (const auto& c : kCases) {
    FakeProcessor p;
    p.SetVendor("GenuineIntel", 7);
    p.SetLeaf(1, {0, 0, c.ecx, 0});
    p.SetLeaf(7, {0, 1u << 5, 0, 0});  // AVX2 reported.
    p.set_xcr0(c.xcr0);
    CPU cpu(p);
    EXPECT_EQ(c.avx, cpu.has_avx()) << std::hex << c.ecx << " " << c.xcr0;
    EXPECT_EQ(c.avx, cpu.has_avx2()) << std::hex << c.ecx << " " << c.xcr0;
    EXPECT_EQ(c.xgetbv_called, p.xgetbv_calls() > 0);
  }

  // AVX without AVX2; and leaf 7 ignored when the processor lacks it.
  FakeProcessor no_avx2;
  no_avx2.SetVendor("GenuineIntel", 7);
  no_avx2.SetLeaf(1, {0, 0, kAvxBits, 0});
  no_avx2.set_xcr0(0x7);
  CPU a(no_avx2);
  EXPECT_TRUE(a.has_avx());
  EXPECT_FALSE(a.has_avx2());

  FakeProcessor max_leaf_6;
  max_leaf_6.SetVendor("GenuineIntel", 6);
  max_leaf_6.SetLeaf(1, {0, 0, kAvxBits, 0});
  max_leaf_6.SetLeaf(7, {0, 1u << 5, 0, 0});
  max_leaf_6.set_xcr0(0x7);
  CPU b(max_leaf_6);
  EXPECT_TRUE(b.has_avx());
  EXPECT_FALSE(b.has_avx2());
}

TEST(CPUTest, BrandAndInvariantTsc) {
  FakeProcessor p;
  p.SetVendor("GenuineIntel", 1);
  p.SetBrand("       Intel(R) Core(TM) i7", 0x80000008);
  p.SetLeaf(0x80000007, {0, 0, 0, 1u << 8});
  CPU cpu(p);
  EXPECT_EQ("       Intel(R) Core(TM) i7", cpu.brand());
  EXPECT_TRUE(cpu.has_non_stop_tsc());

  // A full 48-byte brand has no NUL of its own.
  const std::string full(48, 'B');
  FakeProcessor q;
  q.SetVendor("GenuineIntel", 1);
  q.SetBrand(full.c_str(), 0x80000004);
  q.SetLeaf(0x80000007, {0, 0, 0, 1u << 8});
  CPU full_brand(q);
  EXPECT_EQ(full, full_brand.brand());
  // Leaf 0x80000007 lies beyond the highest extended leaf.
  EXPECT_FALSE(full_brand.has_non_stop_tsc());

  FakeProcessor r;
  r.SetVendor("GenuineIntel", 1);
  r.SetBrand("ignored", 0x80000003);
  CPU no_brand(r);
  EXPECT_EQ("", no_brand.brand());
}

TEST(CPUTest, MissingLeaves) {
  FakeProcessor empty;
  CPU cpu(empty);
  // Leaf 0 answered zeros: an empty vendor text, nothing else read.
  EXPECT_EQ("", cpu.vendor());
  EXPECT_EQ(0, cpu.signature());
  EXPECT_FALSE(cpu.has_sse2());
  EXPECT_EQ("", cpu.brand());
  EXPECT_EQ(0, empty.xgetbv_calls());

  FakeProcessor max_leaf_0;
  max_leaf_0.SetVendor("GenuineIntel", 0);
  max_leaf_0.SetLeaf(1, {0x906EA, 0, 0, 1u << 26});
  CPU leaf0_only(max_leaf_0);
  EXPECT_EQ("GenuineIntel", leaf0_only.vendor());
  EXPECT_EQ(0, leaf0_only.signature());
  EXPECT_FALSE(leaf0_only.has_sse2());
}

TEST(CPUTest, ThisProcessor) {
  CPU cpu;
  // Every x86-64 processor has SSE2 and reports a vendor.
  EXPECT_TRUE(cpu.has_sse2());
  EXPECT_TRUE(cpu.has_sse());
  EXPECT_EQ(12u, cpu.vendor().size());
  EXPECT_NE("unknown", cpu.vendor());
  EXPECT_EQ(cpu.signature() & 0xf, cpu.stepping());
  EXPECT_EQ(cpu.extended_model() * 16 + ((cpu.signature() >> 4) & 0xf),
            cpu.model());
  if (cpu.has_avx2()) {
    EXPECT_TRUE(cpu.has_avx());
  }
  // The host's own XGETBV decides AVX, checked here independently.
  if (cpu.has_avx()) {
    uint32_t eax, edx;
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    EXPECT_EQ(0x6u, eax & 0x6);
  }
}

}  // namespace
}  // namespace base
