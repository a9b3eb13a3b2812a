#include "desktop/windows/installer/utils/display_scales.h"

#include <windows.h>

#include <stddef.h>

#include <cmath>

#include "base/files/file_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/dpi.h"
#include "base/win/scoped_hdc.h"
#include "base/win/system_library.h"
#include "desktop/windows/installer/steps/downloadable_resources.h"

namespace installer {

namespace {

struct SupportedScale {
  double scale;
  // Null for 100 %: every package holds that pak.
  const char* pak;
};

// Indexed by scale id.
constexpr SupportedScale kSupportedScales[] = {
    {1.0, nullptr},
    {1.25, "kavor_125_percent.pak"},
    {1.5, "kavor_150_percent.pak"},
    {2.0, "kavor_200_percent.pak"},
    {2.5, "kavor_250_percent.pak"},
};
constexpr int kScaleCount =
    static_cast<int>(sizeof(kSupportedScales) / sizeof(kSupportedScales[0]));

constexpr double kDefaultDpi = 96.0;

// MDT_EFFECTIVE_DPI: the DPI the user's scale setting gives the monitor.
constexpr int kEffectiveDpi = 0;
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

// shcore is not among the DLLs the loader always takes from the system
// folder, and Windows 7 lacks the function; looked up once and kept.
GetDpiForMonitorFunction GetDpiForMonitorFromSystem() {
  static const GetDpiForMonitorFunction function = [] {
    HMODULE shcore = base::win::LoadSystemLibrary(L"shcore.dll");
    return shcore ? reinterpret_cast<GetDpiForMonitorFunction>(
                        ::GetProcAddress(shcore, "GetDpiForMonitor"))
                  : nullptr;
  }();
  return function;
}

double GetScreenDpi() {
  base::win::ScopedGetDC screen(nullptr);
  return ::GetDeviceCaps(screen, LOGPIXELSX);
}

// Only a per-monitor aware process is told each monitor's own DPI; any
// other is told the system DPI whatever it asks.
double GetMonitorDpi(HMONITOR monitor) {
  if (base::win::IsProcessPerMonitorDpiAware()) {
    GetDpiForMonitorFunction get_dpi_for_monitor = GetDpiForMonitorFromSystem();
    UINT dpi_x = 0;
    UINT dpi_y = 0;
    if (get_dpi_for_monitor && SUCCEEDED(get_dpi_for_monitor(
                                   monitor, kEffectiveDpi, &dpi_x, &dpi_y))) {
      return dpi_x;
    }
  }
  return GetScreenDpi();
}

BOOL CALLBACK CollectMonitorDpi(HMONITOR monitor, HDC, LPRECT, LPARAM dpis) {
  reinterpret_cast<std::vector<double>*>(dpis)->push_back(
      GetMonitorDpi(monitor));
  return TRUE;
}

}  // namespace

namespace internal {

std::set<int> ScaleIdsForDpis(const std::vector<double>& dpis) {
  std::set<int> scale_ids;
  for (double dpi : dpis)
    scale_ids.insert(ScaleToScaleId(dpi / kDefaultDpi));
  return scale_ids;
}

}  // namespace internal

std::set<int> GetMonitorScaleIds() {
  std::vector<double> dpis;
  ::EnumDisplayMonitors(nullptr, nullptr, &CollectMonitorDpi,
                        reinterpret_cast<LPARAM>(&dpis));
  return internal::ScaleIdsForDpis(dpis);
}

int ScaleToScaleId(double scale) {
  int nearest = 0;
  for (int id = 1; id < kScaleCount; ++id) {
    if (std::abs(scale - kSupportedScales[id].scale) <
        std::abs(scale - kSupportedScales[nearest].scale)) {
      nearest = id;
    }
  }
  return nearest;
}

std::vector<std::string> GetMinimalPackagePaks(const base::string16& language,
                                               const std::set<int>& scale_ids) {
  std::vector<std::string> paks;
  if (!language.empty())
    paks.push_back("localization/" + base::UTF16ToUTF8(language) + ".pak");
  for (int id : scale_ids) {
    if (id > 0 && id < kScaleCount)
      paks.push_back(kSupportedScales[id].pak);
  }
  return paks;
}

std::vector<std::string> ListMissingDownloadableResources(
    const base::FilePath& folder) {
  std::vector<std::string> missing;
  const DownloadableResource* resources = GetDownloadableResources();
  for (size_t i = 0; i < kDownloadableResourceCount; ++i) {
    if (!base::PathExists(GetResourceFilePath(folder, resources[i])))
      missing.push_back(DecodeResourcePath(resources[i]));
  }
  return missing;
}

}  // namespace installer
