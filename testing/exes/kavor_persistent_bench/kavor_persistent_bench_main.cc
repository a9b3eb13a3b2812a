// Measures recording into existing histograms whose samples live in a
// persistent segment, beside the same on the heap: prints nanoseconds per
// sample for each kind. Not a test; run it by hand under Wine:
//   wine build/bin/kavor_persistent_bench.exe [samples]

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "base/metrics/histogram.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/sparse_histogram.h"

namespace {

double NowNs() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) * 1e9 / frequency.QuadPart;
}

// Spreads the samples over many buckets, as real recording does.
double NsPerSample(base::HistogramBase* histogram, int samples) {
  const double start = NowNs();
  for (int i = 0; i < samples; ++i)
    histogram->Add((i * 7919) % 100000);
  return (NowNs() - start) / samples;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? atoi(argv[1]) : 10000000;
  const int32_t flags = base::HistogramBase::kUmaTargetedHistogramFlag;
  // Heap histograms first, then the same kinds in a persistent segment.
  base::HistogramBase* heap =
      base::Histogram::FactoryGet("Bench.Heap", 1, 100000, 50, flags);
  base::HistogramBase* heap_sparse =
      base::SparseHistogram::FactoryGet("Bench.HeapSparse", flags);
  base::GlobalHistogramAllocator::CreateWithLocalMemory(8 << 20, 1, "Bench");
  base::HistogramBase* persistent =
      base::Histogram::FactoryGet("Bench.Persistent", 1, 100000, 50, flags);
  base::HistogramBase* persistent_sparse =
      base::SparseHistogram::FactoryGet("Bench.PersistentSparse", flags);
  if (!(persistent->flags() & base::HistogramBase::kIsPersistent) ||
      !(persistent_sparse->flags() & base::HistogramBase::kIsPersistent)) {
    fprintf(stderr, "the persistent histograms were made on the heap\n");
    return 1;
  }
  // Sparse histograms get one record per value: keep their values few.
  const int sparse_samples = samples / 10;
  printf("heap exponential:       %.1f ns/sample\n",
         NsPerSample(heap, samples));
  printf("persistent exponential: %.1f ns/sample\n",
         NsPerSample(persistent, samples));
  printf("heap sparse:            %.1f ns/sample\n",
         NsPerSample(heap_sparse, sparse_samples));
  printf("persistent sparse:      %.1f ns/sample\n",
         NsPerSample(persistent_sparse, sparse_samples));
  return 0;
}
