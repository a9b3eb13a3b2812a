#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_INSTALLATION_STATUS_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_INSTALLATION_STATUS_READER_H_

#include <msxml2.h>
#include <wrl/client.h>

#include <memory>
#include <string>

#include "base/macros.h"
#include "desktop/windows/installer/service/installation_status.h"

namespace installer {

// Walks the element nodes of a document parsed by the system's XML DOM
// (MSXML 3.0). Must be used on one thread that has COM initialised.
class XmlDomCursor {
 public:
  enum MoveResult {
    MOVED = 0,
    NO_SUCH_ELEMENT = 1,  // the cursor stays where it was
    MOVE_FAILED = 2,
  };

  XmlDomCursor();
  ~XmlDomCursor();

  // Parses |text| (UTF-8, or the system ANSI code page when it is not valid
  // UTF-8); the cursor then stands on the document. When the DOM object
  // cannot be made or set up, false with |*error| untouched.
  bool Load(const std::string& text, std::string* error);

  MoveResult MoveToFirstChild();
  MoveResult MoveToNextSibling();
  MoveResult MoveToParent();

  // The current node's name and concatenated text, in UTF-8.
  bool GetNodeName(std::string* name);
  bool GetText(std::string* text);
  // False when the current element has no such attribute, or on error.
  bool GetAttribute(const std::string& name, std::string* value);

 private:
  // The first element among |node| and its following siblings.
  MoveResult SkipToElement(Microsoft::WRL::ComPtr<IXMLDOMNode> node);

  Microsoft::WRL::ComPtr<IXMLDOMDocument> document_;
  Microsoft::WRL::ComPtr<IXMLDOMNode> current_;

  DISALLOW_COPY_AND_ASSIGN(XmlDomCursor);
};

// The install log lists files and keys of one installation: a larger file
// is not one, and is not handed to the parser.
constexpr size_t kMaxInstallLogSize = 16 * 1024 * 1024;

// Reads the install log "installation_status.xml" of older installers into
// a status record.
class XmlInstallationStatusReader : public InstallationStatusReader {
 public:
  XmlInstallationStatusReader();
  ~XmlInstallationStatusReader() override;

  void Read(std::unique_ptr<InstallationStatus>* out,
            const std::string& contents,
            InstallationStatusOrigin origin) override;
  const std::string& GetError() const override;

 private:
  bool ReadRoot(InstallationStatus* status);
  bool ReadPath(InstallationStatus* status);
  bool ReadFiles(InstallationStatus* status);
  bool ReadRootFiles(InstallationStatus* status);
  bool ReadRegistry(InstallationStatus* status);
  bool ReadKeys(std::vector<RegistryKeyRecord>* keys);
  bool ReadValues(RegistryKeyRecord* key);
  bool ReadShortcuts(InstallationStatus* status);
  bool ReadComponents(InstallationStatus* status);
  // Appends the texts of the current element's "file" children.
  bool ReadFileList(std::vector<base::FilePath>* files,
                    const char* no_first,
                    const char* misnamed,
                    const char* no_text,
                    const char* traversal,
                    const char* no_parent);
  bool CurrentNameIs(const char* name);
  bool Fail(const std::string& error);

  std::unique_ptr<XmlDomCursor> cursor_;
  std::string error_;

  DISALLOW_COPY_AND_ASSIGN(XmlInstallationStatusReader);
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_INSTALLATION_STATUS_READER_H_
