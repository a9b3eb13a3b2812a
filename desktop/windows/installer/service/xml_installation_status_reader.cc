#include "desktop/windows/installer/service/xml_installation_status_reader.h"

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/string_util.h"
#include "base/strings/sys_string_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"

namespace installer {

using Microsoft::WRL::ComPtr;

namespace {

// DOMDocument30 of MSXML 3.0; the compiler's headers declare the class but
// not its id.
const CLSID kDomDocument30Clsid = {
    0xF5078F32,
    0xC551,
    0x11D3,
    {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

// IXMLDOMDocument2, whose id the import libraries lack as well.
const IID kDomDocument2Iid = {0x2933BF95,
                              0x7B36,
                              0x11D2,
                              {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// Older installers wrote the log in UTF-8; a log that is not valid UTF-8
// came from a tool that wrote the ANSI code page.
std::wstring DecodeDocument(const std::string& text) {
  std::wstring wide;
  if (!base::UTF8ToWide(text.data(), text.size(), &wide))
    wide = base::SysMultiByteToWide(text, CP_ACP);
  // The DOM takes the string as characters: a byte order mark left at the
  // front would be text before the root element.
  if (!wide.empty() && wide[0] == 0xFEFF)
    wide.erase(0, 1);
  return wide;
}

std::string BstrToUtf8(BSTR text) {
  if (!text)
    return std::string();
  return base::WideToUTF8(std::wstring(text, ::SysStringLen(text)));
}

// A path as the log stores it: UTF-8 with blanks around it.
base::FilePath PathFromText(const std::string& text) {
  std::wstring path;
  base::TrimWhitespace(base::UTF8ToWide(text), base::TRIM_ALL, &path);
  return base::FilePath(path);
}

}  // namespace

XmlDomCursor::XmlDomCursor() = default;

XmlDomCursor::~XmlDomCursor() = default;

bool XmlDomCursor::Load(const std::string& text, std::string* error) {
  current_.Reset();
  document_.Reset();
  ComPtr<IXMLDOMDocument> document;
  HRESULT hr =
      ::CoCreateInstance(kDomDocument30Clsid, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IXMLDOMDocument, &document);
  if (FAILED(hr)) {
    LOG(ERROR) << "Cannot create the XML document object, error 0x" << std::hex
               << hr;
    return false;
  }
  if (FAILED(document->put_async(VARIANT_FALSE)) ||
      FAILED(document->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(document->put_resolveExternals(VARIANT_FALSE))) {
    LOG(ERROR) << "Cannot set up the XML document object";
    return false;
  }
  // A document type declaration could define entities that expand without
  // bound. The reader refuses such documents before they get here; this is
  // the parser's own guard where it has one.
  ComPtr<IXMLDOMDocument2> document2;
  base::win::ScopedBstr prohibit_dtd;
  prohibit_dtd.Reset(::SysAllocString(L"ProhibitDTD"));
  VARIANT prohibit;
  ::VariantInit(&prohibit);
  V_VT(&prohibit) = VT_BOOL;
  V_BOOL(&prohibit) = VARIANT_TRUE;
  hr = document->QueryInterface(kDomDocument2Iid, &document2);
  if (SUCCEEDED(hr))
    hr = document2->setProperty(prohibit_dtd.Get(), prohibit);
  if (FAILED(hr))
    VLOG(1) << "The XML parser cannot prohibit DTDs, error 0x" << std::hex
            << hr;
  const std::wstring wide = DecodeDocument(text);
  base::win::ScopedBstr source;
  source.Reset(::SysAllocStringLen(wide.data(), wide.size()));
  VARIANT_BOOL loaded = VARIANT_FALSE;
  hr = document->loadXML(source.Get(), &loaded);
  if (hr != S_OK || loaded != VARIANT_TRUE) {
    // S_FALSE (1): the parser refused the text.
    *error = "Cannot load the document from string w/err " +
             base::IntToString(hr == S_OK ? 1 : static_cast<int>(hr));
    return false;
  }
  ComPtr<IXMLDOMNode> node;
  hr = document->QueryInterface(IID_IXMLDOMNode, &node);
  if (FAILED(hr)) {
    *error = "Cannot query current node w/err " +
             base::IntToString(static_cast<int>(hr));
    return false;
  }
  document_ = std::move(document);
  current_ = std::move(node);
  return true;
}

XmlDomCursor::MoveResult XmlDomCursor::SkipToElement(ComPtr<IXMLDOMNode> node) {
  while (node) {
    DOMNodeType type = NODE_INVALID;
    if (FAILED(node->get_nodeType(&type)))
      return MOVE_FAILED;
    if (type == NODE_ELEMENT) {
      current_ = std::move(node);
      return MOVED;
    }
    ComPtr<IXMLDOMNode> next;
    if (FAILED(node->get_nextSibling(&next)))
      return MOVE_FAILED;
    node = std::move(next);
  }
  return NO_SUCH_ELEMENT;
}

XmlDomCursor::MoveResult XmlDomCursor::MoveToFirstChild() {
  if (!current_)
    return MOVE_FAILED;
  ComPtr<IXMLDOMNode> child;
  if (FAILED(current_->get_firstChild(&child)))
    return MOVE_FAILED;
  return SkipToElement(std::move(child));
}

XmlDomCursor::MoveResult XmlDomCursor::MoveToNextSibling() {
  if (!current_)
    return MOVE_FAILED;
  ComPtr<IXMLDOMNode> sibling;
  if (FAILED(current_->get_nextSibling(&sibling)))
    return MOVE_FAILED;
  return SkipToElement(std::move(sibling));
}

XmlDomCursor::MoveResult XmlDomCursor::MoveToParent() {
  if (!current_)
    return MOVE_FAILED;
  ComPtr<IXMLDOMNode> parent;
  if (FAILED(current_->get_parentNode(&parent)))
    return MOVE_FAILED;
  DOMNodeType type = NODE_INVALID;
  if (!parent || FAILED(parent->get_nodeType(&type)) || type != NODE_ELEMENT)
    return NO_SUCH_ELEMENT;
  current_ = std::move(parent);
  return MOVED;
}

bool XmlDomCursor::GetNodeName(std::string* name) {
  base::win::ScopedBstr text;
  if (!current_ || FAILED(current_->get_nodeName(text.Receive())))
    return false;
  *name = BstrToUtf8(text.Get());
  return true;
}

bool XmlDomCursor::GetText(std::string* text) {
  base::win::ScopedBstr contents;
  if (!current_ || FAILED(current_->get_text(contents.Receive())))
    return false;
  *text = BstrToUtf8(contents.Get());
  return true;
}

bool XmlDomCursor::GetAttribute(const std::string& name, std::string* value) {
  ComPtr<IXMLDOMElement> element;
  if (!current_ ||
      FAILED(current_->QueryInterface(IID_IXMLDOMElement, &element)))
    return false;
  base::win::ScopedBstr attribute_name;
  attribute_name.Reset(::SysAllocString(base::UTF8ToWide(name).c_str()));
  base::win::ScopedVariant attribute;
  // S_FALSE with a null variant: no such attribute.
  if (element->getAttribute(attribute_name.Get(), attribute.Receive()) !=
          S_OK ||
      attribute.type() != VT_BSTR) {
    return false;
  }
  *value = BstrToUtf8(V_BSTR(attribute.ptr()));
  return true;
}

XmlInstallationStatusReader::XmlInstallationStatusReader() = default;

XmlInstallationStatusReader::~XmlInstallationStatusReader() = default;

void XmlInstallationStatusReader::Read(std::unique_ptr<InstallationStatus>* out,
                                       const std::string& contents,
                                       InstallationStatusOrigin origin) {
  out->reset();
  // A text left from an earlier document would describe the wrong file.
  error_.clear();
  if (contents.size() > kMaxInstallLogSize) {
    Fail("The file is larger than " + base::Uint64ToString(kMaxInstallLogSize) +
         " bytes");
    return;
  }
  // The logs have no document type; one declared could make the parser
  // expand entities without bound. The search covers the declaration in
  // any case and whichever way the text is decoded.
  if (base::ToUpperASCII(contents).find("<!DOCTYPE") != std::string::npos) {
    Fail("The document declares a DTD, which a status file never has");
    return;
  }
  cursor_ = std::make_unique<XmlDomCursor>();
  std::string load_error;
  if (!cursor_->Load(contents, &load_error)) {
    Fail("Cannot parse the file as XML: " + load_error);
    return;
  }
  auto status = std::make_unique<InstallationStatus>(origin);
  if (!ReadRoot(status.get()) || !ReadPath(status.get()) ||
      !ReadFiles(status.get()) || !ReadRootFiles(status.get()) ||
      !ReadRegistry(status.get()) || !ReadShortcuts(status.get()) ||
      !ReadComponents(status.get())) {
    return;
  }
  *out = std::move(status);
}

const std::string& XmlInstallationStatusReader::GetError() const {
  return error_;
}

bool XmlInstallationStatusReader::Fail(const std::string& error) {
  error_ = error;
  LOG(ERROR) << "Legacy XML status: " << error;
  return false;
}

bool XmlInstallationStatusReader::CurrentNameIs(const char* name) {
  std::string current;
  return cursor_->GetNodeName(&current) && current == name;
}

bool XmlInstallationStatusReader::ReadRoot(InstallationStatus* status) {
  if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
    return Fail("Cannot proceed to the root element");
  if (!CurrentNameIs("install_log"))
    return Fail("The root element's name is invalid");
  if (!cursor_->GetAttribute("version", &status->version))
    return Fail("There's no version attribute on the root element");
  std::string app_id;
  if (cursor_->GetAttribute("app_id", &app_id))
    status->app_id = base::UTF8ToWide(app_id);
  std::string flag;
  if (!cursor_->GetAttribute("copy_only", &flag))
    return Fail("There's no copy_only attribute on the root element");
  status->copy_only = flag == "True";
  if (!cursor_->GetAttribute("all_users", &flag))
    return Fail("There's no all_users attribute on the root element");
  status->all_users = flag == "True";
  return true;
}

bool XmlInstallationStatusReader::ReadPath(InstallationStatus* status) {
  if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
    return Fail("Cannot proceed to the path");
  if (!CurrentNameIs("path"))
    return Fail("The path element is not named correctly");
  std::string text;
  if (cursor_->GetAttribute("subfolder", &text))
    status->subfolder = PathFromText(text);
  if (!cursor_->GetText(&text))
    return Fail("Cannot get text contents of path");
  status->path = PathFromText(text);
  return true;
}

bool XmlInstallationStatusReader::ReadFileList(
    std::vector<base::FilePath>* files,
    const char* no_first,
    const char* misnamed,
    const char* no_text,
    const char* traversal,
    const char* no_parent) {
  if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
    return Fail(no_first);
  XmlDomCursor::MoveResult move = XmlDomCursor::MOVED;
  for (; move == XmlDomCursor::MOVED; move = cursor_->MoveToNextSibling()) {
    if (!CurrentNameIs("file"))
      return Fail(misnamed);
    std::string text;
    if (!cursor_->GetText(&text))
      return Fail(no_text);
    files->push_back(PathFromText(text));
  }
  if (move == XmlDomCursor::MOVE_FAILED)
    return Fail(traversal);
  if (cursor_->MoveToParent() != XmlDomCursor::MOVED)
    return Fail(no_parent);
  return true;
}

bool XmlInstallationStatusReader::ReadFiles(InstallationStatus* status) {
  if (cursor_->MoveToNextSibling() != XmlDomCursor::MOVED)
    return Fail("Cannot go to files element");
  if (!CurrentNameIs("files"))
    return Fail("Files element is incorrectly named");
  return ReadFileList(
      &status->files, "Cannot proceed to the first file on the list",
      "File element is incorrectly named",
      "Cannot get text content of a file element",
      "Failed traversing the files list", "Cannot get back to the files list");
}

bool XmlInstallationStatusReader::ReadRootFiles(InstallationStatus* status) {
  if (cursor_->MoveToNextSibling() != XmlDomCursor::MOVED)
    return Fail("Cannot proceed to the expected root files list");
  std::string name;
  if (!cursor_->GetNodeName(&name))
    return Fail("Cannot get the expected root files list name");
  if (name != "root_files") {
    if (name == "registry" || name == "shortcut" || name == "components")
      return true;
    return Fail("Invalid element in place of the optional root files list");
  }
  if (!ReadFileList(
          &status->root_files, "Cannot proceed to the first root file",
          "A root file is incorrectly named", "Cannot get text of a root file",
          "Failed traversing the root files list",
          "Cannot get back to the root files list")) {
    return false;
  }
  const XmlDomCursor::MoveResult move = cursor_->MoveToNextSibling();
  if (move == XmlDomCursor::MOVE_FAILED)
    return Fail("Cannot proceed from the root files list");
  if (move == XmlDomCursor::NO_SUCH_ELEMENT)
    return true;
  if (!cursor_->GetNodeName(&name))
    return Fail("Cannot get root files list successor name");
  if (name != "registry" && name != "shortcut" && name != "components")
    return Fail("Invalid successor of root files list");
  return true;
}

bool XmlInstallationStatusReader::ReadRegistry(InstallationStatus* status) {
  bool read_any = false;
  while (CurrentNameIs("registry")) {
    std::string hive;
    if (!cursor_->GetAttribute("hive", &hive))
      return Fail("Cannot get the hive attibute of a registry element");
    std::vector<RegistryKeyRecord>* keys = nullptr;
    if (hive == "HKLM")
      keys = &status->hklm_keys;
    else if (hive == "HKCU")
      keys = &status->hkcu_keys;
    else
      return Fail("The hive attribute is not HKLM nor HKCU");
    if (!ReadKeys(keys))
      return false;
    read_any = true;
    const XmlDomCursor::MoveResult move = cursor_->MoveToNextSibling();
    if (move == XmlDomCursor::MOVE_FAILED)
      return Fail("Failure while traversing registry keys");
    if (move == XmlDomCursor::NO_SUCH_ELEMENT)
      return true;
  }
  if (read_any && !CurrentNameIs("shortcut") && !CurrentNameIs("components"))
    return Fail("Invalid successor of the registry element");
  return true;
}

// The failures below have no texts of their own in the logs older installers
// wrote; each gets one here so that a refused log says why.
bool XmlInstallationStatusReader::ReadKeys(
    std::vector<RegistryKeyRecord>* keys) {
  if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
    return Fail("Cannot proceed to the first registry key");
  XmlDomCursor::MoveResult move = XmlDomCursor::MOVED;
  for (; move == XmlDomCursor::MOVED; move = cursor_->MoveToNextSibling()) {
    if (!CurrentNameIs("key"))
      return Fail("A registry key is incorrectly named");
    RegistryKeyRecord key;
    std::string clean;
    if (!cursor_->GetAttribute("path", &key.path))
      return Fail("A registry key doesn't feature a path attribute");
    int depth = 0;
    // A decimal integer as it stands: " 1" is not one.
    if (!cursor_->GetAttribute("clean", &clean) ||
        !base::StringToInt(clean, &depth)) {
      return Fail("The clean attribute of registry key " + key.path +
                  " is not an integer");
    }
    key.clean = static_cast<uint32_t>(depth);
    if (!ReadValues(&key))
      return false;
    keys->push_back(std::move(key));
  }
  if (move == XmlDomCursor::MOVE_FAILED)
    return Fail("Failed traversing the keys of a registry element");
  if (cursor_->MoveToParent() != XmlDomCursor::MOVED)
    return Fail("Cannot get back to the registry element");
  return true;
}

bool XmlInstallationStatusReader::ReadValues(RegistryKeyRecord* key) {
  XmlDomCursor::MoveResult move = cursor_->MoveToFirstChild();
  if (move == XmlDomCursor::NO_SUCH_ELEMENT)
    return true;
  for (; move == XmlDomCursor::MOVED; move = cursor_->MoveToNextSibling()) {
    if (!CurrentNameIs("value"))
      return Fail("A value of registry key " + key->path +
                  " is incorrectly named");
    RegistryValueRecord value;
    std::string data;
    if (!cursor_->GetAttribute("name", &value.name) ||
        !cursor_->GetAttribute("type", &value.type) ||
        !cursor_->GetText(&data)) {
      return Fail("A value of registry key " + key->path +
                  " lacks its name, type or text");
    }
    base::TrimWhitespaceASCII(data, base::TRIM_ALL, &value.data);
    key->values.push_back(std::move(value));
  }
  if (move == XmlDomCursor::MOVE_FAILED)
    return Fail("Failed traversing the values of registry key " + key->path);
  if (cursor_->MoveToParent() != XmlDomCursor::MOVED)
    return Fail("Cannot get back to registry key " + key->path);
  return true;
}

bool XmlInstallationStatusReader::ReadShortcuts(InstallationStatus* status) {
  bool read_any = false;
  XmlDomCursor::MoveResult move = XmlDomCursor::NO_SUCH_ELEMENT;
  while (CurrentNameIs("shortcut")) {
    std::string type;
    if (!cursor_->GetAttribute("type", &type))
      return Fail("A shortcut element doesn't feature a type attribute");
    std::string text;
    if (!cursor_->GetText(&text))
      return Fail("Cannot get text of a shortcut");
    base::FilePath* field = nullptr;
    if (type == "SC_DEST_DESKTOP" || type == "SC_DEST_COMMON_DESKTOP")
      field = &status->desktop_shortcut;
    else if (type == "SC_DEST_MENU" || type == "SC_DEST_COMMON_MENU")
      field = &status->menu_shortcut;
    else if (type == "SC_DEST_QUICK_LAUNCH")
      field = &status->quick_launch_shortcut;
    else
      return Fail("Invalid shortcut type " + type);
    *field = PathFromText(text);
    read_any = true;
    move = cursor_->MoveToNextSibling();
    if (move == XmlDomCursor::MOVE_FAILED)
      return Fail("Failure while traversing shortcuts");
    if (move == XmlDomCursor::NO_SUCH_ELEMENT)
      return true;
  }
  // Without shortcuts the cursor still stands on the element the earlier
  // sections ended on; stepping past a components list found there would
  // skip it.
  if (!read_any) {
    if (CurrentNameIs("components"))
      return true;
    move = cursor_->MoveToNextSibling();
    if (move == XmlDomCursor::MOVE_FAILED)
      return Fail("Failure trying to proceed to the shortcut successor");
    if (move == XmlDomCursor::NO_SUCH_ELEMENT)
      return true;
  }
  std::string name;
  if (!cursor_->GetNodeName(&name))
    return Fail("Failed getting the shortcut successor element name");
  if (name != "components")
    return Fail("Invalid element " + name + " after the shortcuts");
  return true;
}

bool XmlInstallationStatusReader::ReadComponents(InstallationStatus* status) {
  if (!CurrentNameIs("components"))
    return true;
  if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
    return Fail("Failed going to the first component");
  XmlDomCursor::MoveResult move = XmlDomCursor::MOVED;
  for (; move == XmlDomCursor::MOVED; move = cursor_->MoveToNextSibling()) {
    if (!CurrentNameIs("component"))
      return Fail("A component element is not called component");
    if (cursor_->MoveToFirstChild() != XmlDomCursor::MOVED)
      return Fail("Cannot go to first child of a component");
    if (!CurrentNameIs("name"))
      return Fail("Component's first child is not called name");
    InstallationComponent component;
    if (!cursor_->GetText(&component.name))
      return Fail("Cannot get component's name as text");
    if (cursor_->MoveToNextSibling() != XmlDomCursor::MOVED)
      return Fail("Cannot go to component.name sibling");
    if (!CurrentNameIs("path"))
      return Fail("component.path is not called path");
    std::string path;
    if (!cursor_->GetText(&path))
      return Fail("Cannot get the path of a component as text");
    component.path = PathFromText(path);
    if (cursor_->MoveToParent() != XmlDomCursor::MOVED)
      return Fail("Cannot get back to the component's parent element");
    status->components.push_back(std::move(component));
  }
  if (move == XmlDomCursor::MOVE_FAILED)
    return Fail("Failure while traversing components");
  if (cursor_->MoveToParent() != XmlDomCursor::MOVED)
    return Fail("Cannot get back to the root of component list");
  if (cursor_->MoveToNextSibling() != XmlDomCursor::NO_SUCH_ELEMENT)
    return Fail("Components are not the last element in status");
  return true;
}

}  // namespace installer
