#ifndef BASE_CPU_H_
#define BASE_CPU_H_

#include <stdint.h>

#include <string>

namespace base {

// The identification and feature flags of the processor, read with CPUID.
// A value: build one where it is needed; it never changes afterwards.
class CPU {
 public:
  struct CpuidRegisters {
    uint32_t eax;
    uint32_t ebx;
    uint32_t ecx;
    uint32_t edx;
  };

  // Where the record's facts come from: the processor itself, or a test's
  // description of another processor.
  class InstructionSource {
   public:
    virtual ~InstructionSource() = default;
    virtual CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) const = 0;
    // The extended control register |xcr| (XGETBV).
    virtual uint64_t Xgetbv(uint32_t xcr) const = 0;
  };

  // Reads the processor this code runs on.
  CPU();
  // Reads |source| instead.
  explicit CPU(const InstructionSource& source);

  int signature() const { return signature_; }
  int type() const { return type_; }
  int family() const { return family_; }
  int model() const { return model_; }
  int stepping() const { return stepping_; }
  int extended_model() const { return extended_model_; }
  int extended_family() const { return extended_family_; }
  bool has_mmx() const { return has_mmx_; }
  bool has_sse() const { return has_sse_; }
  bool has_sse2() const { return has_sse2_; }
  bool has_sse3() const { return has_sse3_; }
  bool has_ssse3() const { return has_ssse3_; }
  bool has_sse41() const { return has_sse41_; }
  bool has_sse42() const { return has_sse42_; }
  bool has_popcnt() const { return has_popcnt_; }
  bool has_avx() const { return has_avx_; }
  bool has_avx2() const { return has_avx2_; }
  bool has_aesni() const { return has_aesni_; }
  bool has_non_stop_tsc() const { return has_non_stop_tsc_; }
  const std::string& vendor() const { return vendor_; }
  const std::string& brand() const { return brand_; }

 private:
  void Initialize(const InstructionSource& source);

  int signature_ = 0;
  int type_ = 0;
  int family_ = 0;
  int model_ = 0;
  int stepping_ = 0;
  int extended_model_ = 0;
  int extended_family_ = 0;
  bool has_mmx_ = false;
  bool has_sse_ = false;
  bool has_sse2_ = false;
  bool has_sse3_ = false;
  bool has_ssse3_ = false;
  bool has_sse41_ = false;
  bool has_sse42_ = false;
  bool has_popcnt_ = false;
  bool has_avx_ = false;
  bool has_avx2_ = false;
  bool has_aesni_ = false;
  bool has_non_stop_tsc_ = false;
  std::string vendor_ = "unknown";
  std::string brand_;
};

}  // namespace base

#endif  // BASE_CPU_H_
