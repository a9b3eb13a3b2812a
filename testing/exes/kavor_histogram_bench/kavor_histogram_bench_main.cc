// Measures the hot path of the histograms: recording into a histogram that
// already exists.
//
//   kavor_histogram_bench.exe [SAMPLES_PER_THREAD]   (default 20000000)
//
// The recording threads are started first and wait; then the main thread
// locks the library's private heap (where operator new and the library's
// malloc allocate), lets the threads record, and only unlocks when they are
// done. A recording that allocated would block on the locked heap, so a
// case that finishes shows that recording allocates nothing; one that does
// not finish within a minute is reported as "ALLOCATES" and the program
// exits with 1.
//
// Cases:
//   one-value   one thread, one value: the single-sample word (60000
//               samples into each of several histograms, since the word
//               holds at most 65535)
//   spread      one thread, values over all buckets: the counts array
//   spread-4t   four threads recording spread values into one histogram
//   sparse      one thread into a sparse histogram (takes its own lock)

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "base/allocator/winheap_stubs_win.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sparse_histogram.h"

namespace {

// A recording that has not ended by then is taken to be blocked.
constexpr DWORD kTimeoutMs = 60000;

double Now() {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

struct Job {
  // Recorded into in turn, |samples| / |histograms.size()| samples each.
  std::vector<base::HistogramBase*> histograms;
  int samples;
  int spread;
  int offset;
  HANDLE ready;  // Set by the thread, then it waits for |go|.
  HANDLE go;
  double seconds;
};

DWORD WINAPI Record(void* param) {
  Job* job = static_cast<Job*>(param);
  const int spread = job->spread;
  const int step = spread > 7 ? 7 : 0;
  const int per_histogram =
      job->samples / static_cast<int>(job->histograms.size());
  int value = job->offset;
  ::SetEvent(job->ready);
  ::WaitForSingleObject(job->go, INFINITE);
  const double start = Now();
  for (base::HistogramBase* histogram : job->histograms) {
    for (int i = 0; i < per_histogram; ++i) {
      histogram->Add(value);
      value += step;
      if (value >= spread)
        value -= spread;
    }
  }
  job->seconds = Now() - start;
  return 0;
}

// |samples| per thread, spread evenly over |histograms|.
bool RunCase(const char* label,
             const std::vector<base::HistogramBase*>& histograms,
             int threads,
             int samples,
             int spread) {
  // Every value once beforehand, so that the counts array (or the map
  // entry) exists: making it is the one allocation of a histogram's life,
  // and is not what is measured. A single value stays in the single-sample
  // word.
  long long warm_up = 0;
  for (base::HistogramBase* histogram : histograms) {
    for (int value = 0; value < spread; ++value, ++warm_up)
      histogram->Add(value);
  }

  HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::vector<Job> jobs(threads);
  std::vector<HANDLE> handles;
  for (int t = 0; t < threads; ++t) {
    jobs[t] = {histograms,
               samples,
               spread,
               (t * 13) % spread,
               ::CreateEventW(nullptr, TRUE, FALSE, nullptr),
               go,
               0};
    handles.push_back(
        ::CreateThread(nullptr, 0, &Record, &jobs[t], 0, nullptr));
    ::WaitForSingleObject(jobs[t].ready, INFINITE);
  }

  HANDLE private_heap = base::allocator::GetPrivateHeap();
  ::HeapLock(private_heap);
  const double start = Now();
  ::SetEvent(go);
  const DWORD wait = ::WaitForMultipleObjects(
      static_cast<DWORD>(handles.size()), handles.data(), TRUE, kTimeoutMs);
  const double wall = Now() - start;
  ::HeapUnlock(private_heap);
  if (wait == WAIT_TIMEOUT) {
    printf("%-10s ALLOCATES: recording blocked on a locked heap\n", label);
    ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                             TRUE, INFINITE);
    return false;
  }
  for (int t = 0; t < threads; ++t) {
    ::CloseHandle(handles[t]);
    ::CloseHandle(jobs[t].ready);
  }
  ::CloseHandle(go);

  const int per_histogram = samples / static_cast<int>(histograms.size());
  const long long total = static_cast<long long>(per_histogram) *
                          static_cast<long long>(histograms.size()) * threads;
  long long recorded = -warm_up;
  for (base::HistogramBase* histogram : histograms)
    recorded += histogram->SnapshotSamples()->TotalCount();
  double busiest = 0;
  for (const Job& job : jobs)
    busiest = job.seconds > busiest ? job.seconds : busiest;
  printf(
      "%-10s %d thread(s) %10lld samples  %6.2f ns/sample per thread  "
      "%6.2f ns/sample overall  no allocation  recorded %s\n",
      label, threads, total, busiest * 1e9 / samples, wall * 1e9 / total,
      recorded == total ? "all" : "MISMATCH");
  return recorded == total;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? atoi(argv[1]) : 20000000;
  if (samples < 4) {
    fprintf(stderr, "usage: kavor_histogram_bench [SAMPLES_PER_THREAD]\n");
    return 2;
  }
  // The shape of the task scheduler's latency histograms.
  std::vector<base::HistogramBase*> single;
  // At most 65535 samples fit the single-sample word of one histogram.
  const int single_count = (samples + 59999) / 60000;
  for (int i = 0; i < single_count; ++i) {
    single.push_back(base::Histogram::FactoryGet(
        "Bench.OneValue." + std::to_string(i), 1, 20000, 50, 1));
  }
  bool ok = RunCase("one-value", single, 1, single_count * 60000, 1);
  ok &= RunCase("spread",
                {base::Histogram::FactoryGet("Bench.Spread", 1, 20000, 50, 1)},
                1, samples, 30000);
  ok &= RunCase("spread-4t",
                {base::Histogram::FactoryGet("Bench.Spread4", 1, 20000, 50, 1)},
                4, samples / 4, 30000);
  ok &=
      RunCase("sparse", {base::SparseHistogram::FactoryGet("Bench.Sparse", 1)},
              1, samples / 4, 64);
  return ok ? 0 : 1;
}
