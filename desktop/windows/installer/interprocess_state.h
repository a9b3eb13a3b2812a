#ifndef DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_
#define DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_

#include <string>

namespace installer {

// The state the processes of one installation agree on, carried on their
// command lines.
//
// So far only what start-up needs: the run's mode switches, read from the
// live process command line at every call, and the session's identity. The
// package folder, the tracking data and passing the state on to a child
// process join later.
bool IsAutoupdateRun();
bool IsSilentRun();
bool IsUninstallRun();

// The `session-guid` switch's value, else a new random GUID made on the
// first call and kept for the process.
std::string GetSessionGuid();

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_INTERPROCESS_STATE_H_
