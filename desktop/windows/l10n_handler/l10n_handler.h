#ifndef DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_
#define DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "base/macros.h"
#include "desktop/windows/l10n_handler/installer_string_ids.h"

namespace installer {

// The installer's texts in the user's language. Every text is looked up by
// string id in the string tables of the host executable (the module that
// created the process), never of this library.
class L10nHandler {
 public:
  virtual ~L10nHandler() = default;

  // Chooses the UI language starting from |*language| (which may be empty)
  // and writes the code actually chosen back. Never fails: the last resort
  // is English.
  virtual void SetLanguage(std::wstring* language) = 0;
  virtual uint16_t GetLanguageId() const = 0;
  // The language codes the host executable offers, read afresh each time.
  virtual std::vector<std::wstring> LoadTextResource() const = 0;
  // |id| in the current language with "$1".."$9" replaced by |args|; empty
  // when there is no such text: with one error line when the id's block is
  // missing or damaged, silently for an unused entry of an existing block.
  virtual std::wstring GetString(uint32_t id,
                                 const std::vector<std::wstring>& args) = 0;
  // |id| in |language|, without substitution.
  virtual std::wstring GetStringForLanguage(const std::wstring& language,
                                            uint32_t id) = 0;
};

// Reads the host executable's "TXT" 134 language list and its RT_STRING
// tables.
class ResourceL10nHandler : public L10nHandler {
 public:
  ResourceL10nHandler();
  ~ResourceL10nHandler() override;

  void SetLanguage(std::wstring* language) override;
  uint16_t GetLanguageId() const override;
  std::vector<std::wstring> LoadTextResource() const override;
  std::wstring GetString(uint32_t id,
                         const std::vector<std::wstring>& args) override;
  std::wstring GetStringForLanguage(const std::wstring& language,
                                    uint32_t id) override;

 protected:
  // The user's preferred UI languages, most preferred first
  // (GetThreadPreferredUILanguages with the system and user fallbacks).
  // Tests describe other users by overriding it.
  virtual std::vector<std::wstring> GetPreferredUILanguages() const;

 private:
  uint16_t language_id_ = 0;

  DISALLOW_COPY_AND_ASSIGN(ResourceL10nHandler);
};

// The process-wide handler, a ResourceL10nHandler made on first use and
// kept until exit.
L10nHandler* GetL10nHandler();

// Shorthands on the process-wide handler.
void SetUiLanguage(std::wstring* language);
std::wstring GetString(uint32_t id);
// "$1" replaced by |arg|.
std::wstring GetString(uint32_t id, const std::wstring& arg);
// "$1" and "$2" replaced by |arg1| and |arg2|.
std::wstring GetStringF(uint32_t id,
                        const std::wstring& arg1,
                        const std::wstring& arg2 = std::wstring());

// |id| of the host executable in |language_id|, with |args| substituted
// when there are any.
std::wstring LoadLocalizedString(uint16_t language_id,
                                 uint32_t id,
                                 const std::vector<std::wstring>& args);
// Whether the host executable offers |language| (ASCII, case-insensitive).
bool IsLanguageAvailable(const std::wstring& language);
// The Windows LANGID of a language code; 0 for an unknown code.
uint16_t LanguageCodeToLcid(const std::wstring& language);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_L10N_HANDLER_L10N_HANDLER_H_
