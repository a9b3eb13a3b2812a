#include "base/cpu.h"

#include <cpuid.h>
#include <string.h>

namespace base {

namespace {

class ProcessorInstructions : public CPU::InstructionSource {
 public:
  CPU::CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) const override {
    CPU::CpuidRegisters r = {};
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
    return r;
  }

  uint64_t Xgetbv(uint32_t xcr) const override {
    uint32_t eax = 0;
    uint32_t edx = 0;
    // Spelled as bytes: the instruction needs no -mxsave.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0"
                     : "=a"(eax), "=d"(edx)
                     : "c"(xcr));
    return (static_cast<uint64_t>(edx) << 32) | eax;
  }
};

bool Bit(uint32_t value, int bit) {
  return (value >> bit) & 1;
}

}  // namespace

CPU::CPU() {
  Initialize(ProcessorInstructions());
}

CPU::CPU(const InstructionSource& source) {
  Initialize(source);
}

void CPU::Initialize(const InstructionSource& source) {
  const CpuidRegisters leaf0 = source.Cpuid(0, 0);
  const int max_leaf = static_cast<int>(leaf0.eax);
  char vendor[13];
  memcpy(vendor, &leaf0.ebx, 4);
  memcpy(vendor + 4, &leaf0.edx, 4);
  memcpy(vendor + 8, &leaf0.ecx, 4);
  vendor[12] = '\0';
  vendor_ = vendor;

  if (max_leaf >= 1) {
    const CpuidRegisters leaf1 = source.Cpuid(1, 0);
    signature_ = static_cast<int>(leaf1.eax);
    type_ = (signature_ >> 12) & 0x3;
    family_ = (signature_ >> 8) & 0xf;
    extended_model_ = (signature_ >> 16) & 0xf;
    model_ = extended_model_ * 16 + ((signature_ >> 4) & 0xf);
    stepping_ = signature_ & 0xf;
    extended_family_ = (signature_ >> 20) & 0xff;

    has_mmx_ = Bit(leaf1.edx, 23);
    has_sse_ = Bit(leaf1.edx, 25);
    has_sse2_ = Bit(leaf1.edx, 26);
    has_sse3_ = Bit(leaf1.ecx, 0);
    has_ssse3_ = Bit(leaf1.ecx, 9);
    has_sse41_ = Bit(leaf1.ecx, 19);
    has_sse42_ = Bit(leaf1.ecx, 20);
    has_popcnt_ = Bit(leaf1.ecx, 23);
    has_aesni_ = Bit(leaf1.ecx, 25);

    // AVX is usable only when the processor has it (AVX), exposes XSAVE and
    // the system has turned the extended state on (OSXSAVE), and the system
    // saves both the SSE and the AVX registers on a context switch (XCR0
    // bits 1 and 2). XGETBV faults without OSXSAVE, so it comes last.
    constexpr uint32_t kXsaveOsxsaveAvx = (1u << 26) | (1u << 27) | (1u << 28);
    has_avx_ = (leaf1.ecx & kXsaveOsxsaveAvx) == kXsaveOsxsaveAvx &&
               (source.Xgetbv(0) & 0x6) == 0x6;

    if (max_leaf >= 7) {
      const CpuidRegisters leaf7 = source.Cpuid(7, 0);
      has_avx2_ = has_avx_ && Bit(leaf7.ebx, 5);
    }
  }

  const uint32_t max_extended_leaf = source.Cpuid(0x80000000, 0).eax;
  if (max_extended_leaf >= 0x80000004) {
    char brand[49];
    for (uint32_t i = 0; i < 3; ++i) {
      const CpuidRegisters r = source.Cpuid(0x80000002 + i, 0);
      memcpy(brand + i * 16, &r.eax, 4);
      memcpy(brand + i * 16 + 4, &r.ebx, 4);
      memcpy(brand + i * 16 + 8, &r.ecx, 4);
      memcpy(brand + i * 16 + 12, &r.edx, 4);
    }
    brand[48] = '\0';
    brand_ = brand;

    if (max_extended_leaf >= 0x80000007)
      has_non_stop_tsc_ = Bit(source.Cpuid(0x80000007, 0).edx, 8);
  }
}

}  // namespace base
