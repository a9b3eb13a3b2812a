#ifndef DESKTOP_WINDOWS_INSTALLER_UTILS_WMI_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_UTILS_WMI_UTIL_H_

#include <string>

#include "base/strings/string16.h"

struct IWbemClassObject;
struct IWbemServices;

namespace installer {

// Connects to the local "ROOT\CIMV2" namespace; |set_blanket| sets the
// proxy blanket that calls on the services need.
bool ConnectToWmi(bool set_blanket, IWbemServices** services);
// An instance of the input parameters of |class_name|.|method_name|.
bool CreateWmiMethodParams(IWbemServices* services,
                           const base::string16& class_name,
                           const base::string16& method_name,
                           IWbemClassObject** in_params);
// Starts |command_line| through the WMI service, so that the new process is
// no child of this one. |process_id| may be null.
bool LaunchProcessThroughWmi(const base::string16& command_line,
                             int* process_id);

// The installer architecture (0 x86, 1 x64, 2 invalid) for the logs: "X86",
// "X64", "invalid"; any other value gives the empty string.
std::string ArchitectureToString(int architecture);
std::string ArchitectureToLowerCaseString(int architecture);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UTILS_WMI_UTIL_H_
