#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_

#include <windows.h>
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/macros.h"
#include "base/strings/string16.h"
#include "base/synchronization/lock.h"
#include "desktop/windows/installer/installer_step_context.h"
#include "desktop/windows/installer/service/transactions/registry_value_template.h"

namespace base {
class ListValue;
class Value;
}  // namespace base

namespace installer {

struct InstallationStatus;

// One installed browser in one installation folder: the folder, the
// browser's installer preferences ("installer_prefs.json"), its status file,
// where its profile and cache live, and its registration as the default
// browser and as the handler of files and protocols.
//
// The preferences are read once, at construction, and never written back;
// the status is read on first use, under a lock, since the current
// installation is shared by every thread. The rest is for one thread.
class Installation {
 public:
  // The installation the running executable belongs to: the executable's
  // folder, or its parent when only the parent holds "launcher.exe" (the
  // installer of an installation runs from its versioned subfolder). Empty
  // when the executable's folder is unknown.
  Installation();
  // The installation in |folder|; its status is read on first use.
  explicit Installation(const base::FilePath& folder);
  // The installation in |folder| whose status is already known; the status
  // file is never read. A null |status| stands for an empty record.
  Installation(const base::FilePath& folder,
               std::unique_ptr<InstallationStatus> status);
  virtual ~Installation();

  // The process's one current installation, made on first use (on the main
  // thread during start-up) and kept until the process ends.
  static Installation* GetCurrent();

  // The folder an installation whose executable lies in |exe_folder| is in.
  static base::FilePath FolderForExecutableFolder(
      const base::FilePath& exe_folder);

  // Preference lookups by dotted key ("a.b"; blanks around each part do not
  // count). False, with |out| untouched, when the key is missing or its
  // value has another type.
  virtual bool GetBoolPref(const std::string& key, bool* out) const;
  virtual bool GetString16Pref(const std::string& key,
                               base::string16* out) const;
  virtual bool GetStringPref(const std::string& key, std::string* out) const;
  // A string preference holding a decimal number; false for any other text.
  virtual bool GetInt64Pref(const std::string& key, int64_t* out) const;
  // |*out| stays owned by the installation.
  virtual bool GetListPref(const std::string& key,
                           const base::ListValue** out) const;

  virtual const base::FilePath& GetFolder() const;
  // Loads the status on first use; never null.
  virtual const InstallationStatus* GetStatus();
  virtual bool IsCopyOnly();

  // Whether the browser handles http and https (and before Windows 8 is the
  // Start menu's internet client).
  virtual bool IsDefaultBrowser();
  // The open command of the program that handles |name| (a protocol, or an
  // extension with its dot) for the current user, or machine-wide when
  // |all_users|.
  virtual bool GetHandlerCommand(const base::string16& name,
                                 bool all_users,
                                 base::string16* command);
  // Whether the current user's handler of |name| runs this installation's
  // launcher.
  virtual bool IsDefaultHandlerFor(const base::string16& name);
  virtual bool IsStartMenuInternetDefault();
  virtual bool IsSingleProfile();
  // The open command of the browser that handled http before this one.
  virtual bool GetPreviousDefaultBrowser(base::string16* command);
  virtual bool SetPreviousDefaultBrowser(const base::string16& command,
                                         bool all_users);
  // Remembers the current http handler unless it is this browser.
  virtual void SavePreviousDefaultBrowser(bool all_users);
  // Makes the browser the default as far as the system lets a program do
  // it; true when it is the default afterwards.
  virtual bool SetAsDefaultBrowser(bool all_users);
  // Writes the browser's class (ProgID); true when every row was written.
  virtual bool RegisterProgId(bool all_users);
  // Removes the key "Software\Classes\ProgID" (a key literally named so,
  // left by early builds) of the current user's hive, or the machine's when
  // |all_users|, when its "FriendlyTypeName" shows it is the browser's. The
  // removal is final at once; nothing is reported.
  virtual void RemoveStrayProgIdKey(bool all_users);
  virtual bool SetAsDefaultHandler(const base::string16& name, bool all_users);
  virtual bool RegisterStartMenuInternet(bool all_users);

  virtual base::string16 GetQualifiedAppId();
  virtual base::string16 GetAutoupdateName();

  // The profile directory of the build's own stream.
  virtual bool GetProfileDirectory(base::FilePath* out);
  // As GetProfileDirectory, but for a profile path of the form
  // "...\<USERNAME>" the folder that holds every user's profile.
  virtual bool GetProfileRootDirectory(base::FilePath* out);
  virtual bool GetProfileDirectoryForStream(base::FilePath* out, int stream);
  // The cache directory that belongs to the profile directory |profile|.
  virtual void GetCacheDirectory(const base::FilePath& profile,
                                 base::FilePath* out);

  const base::string16& app_registry_name() const { return app_registry_name_; }
  const base::string16& display_name() const { return display_name_; }

 private:
  // The hive of a machine-wide (|all_users|) or per-user installation.
  static HKEY RootFor(bool all_users);

  void Initialize();
  void ReadPrefs();
  void LoadStatus();
  const base::Value* FindPref(const std::string& key) const;
  bool GetProfileDirectoryInternal(base::FilePath* out, bool root, int stream);
  // Writes the association rows of |table| (all but the last when
  // |skip_last|) under the hive of |all_users| as one transaction.
  bool ApplyRows(const std::vector<RegistryValueTemplateEntry>& table,
                 bool skip_last,
                 const base::string16& name,
                 bool all_users);

  std::unique_ptr<base::Value> prefs_;
  base::FilePath folder_;
  base::string16 profile_path_;
  // Guards |status_loaded_| and the |status_| that a load replaces.
  base::Lock status_lock_;
  bool status_loaded_ = false;
  std::unique_ptr<InstallationStatus> status_;
  base::string16 app_registry_name_;
  base::string16 display_name_;

  DISALLOW_COPY_AND_ASSIGN(Installation);
};

// What code that looks at an installation in another folder makes.
class InstallationImpl : public Installation {
 public:
  explicit InstallationImpl(const base::FilePath& folder);
  InstallationImpl(const base::FilePath& folder,
                   std::unique_ptr<InstallationStatus> status);
  ~InstallationImpl() override;

 private:
  DISALLOW_COPY_AND_ASSIGN(InstallationImpl);
};

// The placeholders of the browser's association rows: the class name, the
// product and stream words, the protocol or extension being registered and
// the installation folder. Nothing written through them is recorded in the
// status file.
class InstallationTemplateVariables : public TemplateVariables {
 public:
  InstallationTemplateVariables(const base::string16& name,
                                const base::FilePath& folder);
  ~InstallationTemplateVariables() override;

  base::string16 GetVariable(const base::string16& name) const override;
  std::vector<RegistryKeyRecord>* GetRecordedRegistryValues(HKEY root) override;

 private:
  const base::string16 name_;
  const base::FilePath folder_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_INSTALLATION_H_
