#include "desktop/windows/l10n_handler/l10n_handler.h"

#include <windows.h>

#include "base/logging.h"
#include "base/strings/string_split.h"
#include "base/strings/string_util.h"
#include "base/win/resource_util.h"
#include "base/win/ui_language.h"

namespace installer {

namespace {

constexpr int kLanguageListResource = 134;
constexpr wchar_t kTextResourceType[] = L"TXT";

struct LanguageRow {
  const wchar_t* code;
  uint16_t id;
};

// The first match wins: some codes share an id and some ids have several
// spellings (ISO 639, Windows and the string tables' own).
constexpr LanguageRow kLanguageIds[] = {
    {L"el", 0x408},          {L"gu", 0x447},        {L"en", 0x409},
    {L"userdefault", 0x400}, {L"fr-ca", 0xc0c},     {L"vi", 0x42a},
    {L"ca", 0x403},          {L"fake-bidi", 0x40d}, {L"am", 0x45e},
    {L"it", 0x410},          {L"iw", 0x40d},        {L"kn", 0x44b},
    {L"zh-hk", 0xc04},       {L"ar", 0x401},        {L"ml", 0x44c},
    {L"zu", 0x435},          {L"cs", 0x405},        {L"et", 0x425},
    {L"gl", 0x456},          {L"id", 0x421},        {L"es", 0xc0a},
    {L"en-gb", 0x809},       {L"ru", 0x419},        {L"eu", 0x42d},
    {L"nl", 0x413},          {L"nn", 0x814},        {L"no", 0x414},
    {L"nb", 0x414},          {L"af", 0x436},        {L"tr", 0x41f},
    {L"tl", 0x400},          {L"lv", 0x426},        {L"lt", 0x427},
    {L"pa", 0x446},          {L"sw", 0x441},        {L"th", 0x41e},
    {L"te", 0x44a},          {L"ro", 0x418},        {L"is", 0x40f},
    {L"fil", 0x464},         {L"ta", 0x449},        {L"be", 0x423},
    {L"fr", 0x40c},          {L"bg", 0x402},        {L"ms", 0x43e},
    {L"sl", 0x424},          {L"hr", 0x41a},        {L"bn", 0x445},
    {L"de", 0x407},          {L"hu", 0x40e},        {L"fa", 0x429},
    {L"neutral", 0x0},       {L"hi", 0x439},        {L"pt-br", 0x416},
    {L"sa", 0x44f},          {L"fi", 0x40b},        {L"da", 0x406},
    {L"ja", 0x411},          {L"he", 0x40d},        {L"es-419", 0x80a},
    {L"ne", 0x461},          {L"pt-pt", 0x816},     {L"zh-tw", 0x404},
    {L"ko", 0x412},          {L"sv", 0x41d},        {L"ur", 0x420},
    {L"sk", 0x41b},          {L"zh-cn", 0x804},     {L"si", 0x45b},
    {L"pl", 0x415},          {L"uk", 0x422},        {L"sr", 0xc1a},
    {L"ti", 0x873},          {L"mr", 0x44e},        {L"or", 0x448},
};

bool EqualsAscii(const std::wstring& a, const wchar_t* b) {
  return base::EqualsCaseInsensitiveASCII(a, b);
}

// The ISO 639 codes that the string tables spell otherwise.
std::wstring ConvertFromIso639(const std::wstring& language) {
  if (EqualsAscii(language, L"no"))
    return L"nb";
  if (EqualsAscii(language, L"pt"))
    return L"pt-PT";
  if (EqualsAscii(language, L"tl"))
    return L"fil";
  return language;
}

// The code the string tables have for a preferred language that is not
// offered as it stands: |primary| is the part before the first "-". The
// result goes through the same ISO 639 corrections as a configured code, so
// that "fil-PH" ends at the tables' "fil" (not at "tl", which the tables
// do not spell and which would give the user-default LANGID) and "no-NO" at
// "nb".
std::wstring AdjustForRegion(const std::wstring& primary,
                             const std::wstring& region) {
  if (EqualsAscii(primary, L"es"))
    return EqualsAscii(region, L"es") ? primary : L"es-419";
  if (EqualsAscii(primary, L"zh")) {
    return EqualsAscii(region, L"hk") || EqualsAscii(region, L"mo") ? L"zh-TW"
                                                                    : L"zh-CN";
  }
  if (EqualsAscii(primary, L"en")) {
    for (const wchar_t* british : {L"au", L"ca", L"nz", L"za"}) {
      if (EqualsAscii(region, british))
        return L"en-GB";
    }
    return L"en-US";
  }
  return ConvertFromIso639(primary);
}

bool IsLanguageInList(const std::wstring& language,
                      const std::vector<std::wstring>& available) {
  // An empty code asks for the user's own language: it must go on to the
  // preferred languages even if the list ever holds an empty line.
  if (language.empty())
    return false;
  for (wchar_t c : language) {
    if (c >= 0x80)
      return false;
  }
  for (const std::wstring& code : available) {
    if (base::EqualsCaseInsensitiveASCII(code, language))
      return true;
  }
  return false;
}

}  // namespace

ResourceL10nHandler::ResourceL10nHandler() = default;

ResourceL10nHandler::~ResourceL10nHandler() = default;

void ResourceL10nHandler::SetLanguage(std::wstring* language) {
  const std::vector<std::wstring> available = LoadTextResource();
  auto use_if_available = [&]() {
    if (!IsLanguageInList(*language, available))
      return false;
    language_id_ = LanguageCodeToLcid(*language);
    return true;
  };

  *language = ConvertFromIso639(*language);
  VLOG(1) << "Language converted from ISO631:" << *language;
  if (use_if_available())
    return;
  LOG(INFO) << "Language not in the available languages list: " << *language;

  for (const std::wstring& preferred : GetPreferredUILanguages()) {
    *language = preferred;
    LOG(INFO) << "Trying language from system preferred list: " << *language;
    if (use_if_available())
      return;
    const size_t dash = preferred.find(L'-');
    if (dash != std::wstring::npos && dash != 0) {
      *language = AdjustForRegion(preferred.substr(0, dash),
                                  preferred.substr(dash + 1));
    }
    LOG(INFO) << "Retrying after adjustments: " << *language;
    if (use_if_available())
      return;
  }

  *language = L"en";
  LOG(WARNING) << "Falling back to english";
  language_id_ = LanguageCodeToLcid(*language);
}

uint16_t ResourceL10nHandler::GetLanguageId() const {
  return language_id_;
}

std::vector<std::wstring> ResourceL10nHandler::LoadTextResource() const {
  const base::StringPiece bytes =
      base::win::GetHostResource(kLanguageListResource, kTextResourceType);
  // ASCII by contract: each byte becomes one character.
  std::wstring text;
  text.reserve(bytes.size());
  for (char c : bytes.as_string_view())
    text.push_back(static_cast<unsigned char>(c));
  return base::SplitString(text, L"\n", base::TRIM_WHITESPACE,
                           base::SPLIT_WANT_ALL);
}

std::wstring ResourceL10nHandler::GetString(
    uint32_t id, const std::vector<std::wstring>& args) {
  return LoadLocalizedString(language_id_, id, args);
}

std::wstring ResourceL10nHandler::GetStringForLanguage(
    const std::wstring& language, uint32_t id) {
  return LoadLocalizedString(LanguageCodeToLcid(language), id, {});
}

std::vector<std::wstring> ResourceL10nHandler::GetPreferredUILanguages() const {
  std::vector<std::wstring> languages;
  base::win::GetThreadPreferredUILanguageList(&languages);
  return languages;
}

L10nHandler* GetL10nHandler() {
  static ResourceL10nHandler* const handler = new ResourceL10nHandler();
  return handler;
}

void SetUiLanguage(std::wstring* language) {
  GetL10nHandler()->SetLanguage(language);
}

std::wstring GetString(uint32_t id) {
  return GetL10nHandler()->GetString(id, {});
}

std::wstring GetString(uint32_t id, const std::wstring& arg) {
  return GetL10nHandler()->GetString(id, {arg});
}

std::wstring GetStringF(uint32_t id,
                        const std::wstring& arg1,
                        const std::wstring& arg2) {
  return GetL10nHandler()->GetString(id, {arg1, arg2});
}

std::wstring LoadLocalizedString(uint16_t language_id,
                                 uint32_t id,
                                 const std::vector<std::wstring>& args) {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceExW(module, RT_STRING,
                                 MAKEINTRESOURCEW(id / 16 + 1), language_id);
  if (!info) {
    PLOG(ERROR) << "Failed to find string";
    return std::wstring();
  }
  HGLOBAL handle = ::LoadResource(module, info);
  if (!handle) {
    PLOG(ERROR) << "Failed to load string";
    return std::wstring();
  }
  const wchar_t* entry = static_cast<const wchar_t*>(::LockResource(handle));
  if (!entry) {
    PLOG(ERROR) << "Failed to lock string";
    return std::wstring();
  }
  // A block is 16 counted strings; the resource's size bounds the walk so
  // that a damaged block cannot send it past its end.
  const wchar_t* const end =
      entry + ::SizeofResource(module, info) / sizeof(wchar_t);
  for (uint32_t skip = id % 16; skip > 0 && entry < end; --skip)
    entry += 1 + static_cast<uint16_t>(*entry);
  if (entry >= end ||
      static_cast<size_t>(end - entry - 1) < static_cast<uint16_t>(*entry)) {
    LOG(ERROR) << "String block " << id / 16 + 1 << " is damaged";
    return std::wstring();
  }
  const size_t length = static_cast<uint16_t>(*entry);
  std::wstring text(entry + 1, length);
  if (args.empty())
    return text;
  return base::ReplaceStringPlaceholders(text, args, nullptr);
}

bool IsLanguageAvailable(const std::wstring& language) {
  return IsLanguageInList(language, GetL10nHandler()->LoadTextResource());
}

uint16_t LanguageCodeToLcid(const std::wstring& language) {
  VLOG(1) << "Looking up LCID for " << language;
  if (language.empty())
    return 0;
  for (const LanguageRow& row : kLanguageIds) {
    if (EqualsAscii(language, row.code))
      return row.id;
  }
  return 0;
}

}  // namespace installer
