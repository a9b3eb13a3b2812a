#include "base/test/scoped_fake_ticks.h"

#include <atomic>

namespace base {

namespace {

std::atomic<int64_t> g_now_us{ScopedFakeTicks::kDefaultStartMicroseconds};
std::atomic<int> g_reads{0};

class FakeTickClock : public TickClock {
 public:
  TimeTicks NowTicks() const override { return ScopedFakeTicks::Now(); }
};

}  // namespace

constexpr int64_t ScopedFakeTicks::kDefaultStartMicroseconds;

ScopedFakeTicks::ScopedFakeTicks(TimeTicks start)
    : overrides_(nullptr, &ScopedFakeTicks::Now, nullptr) {
  SetNow(start);
  g_reads = 0;
}

ScopedFakeTicks::~ScopedFakeTicks() = default;

// static
TimeTicks ScopedFakeTicks::Now() {
  ++g_reads;
  return TimeTicks() + TimeDelta::FromMicroseconds(g_now_us.load());
}

void ScopedFakeTicks::Advance(TimeDelta delta) {
  g_now_us += delta.InMicroseconds();
}

void ScopedFakeTicks::SetNow(TimeTicks now) {
  g_now_us = (now - TimeTicks()).InMicroseconds();
}

int ScopedFakeTicks::reads() const {
  return g_reads.load();
}

std::unique_ptr<TickClock> ScopedFakeTicks::CreateTickClock() const {
  return std::make_unique<FakeTickClock>();
}

}  // namespace base
