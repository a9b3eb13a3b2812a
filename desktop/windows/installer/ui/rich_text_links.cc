// Placeholder bodies so that the options page links before the rich-text
// helpers exist; the real implementation replaces this file.
#include "desktop/windows/installer/ui/rich_text_links.h"

namespace installer {

void InitRichEdit() {}
void SetRichTextColor(HWND, COLORREF) {}
void SetRangeColor(HWND, COLORREF, LONG, LONG) {}
std::wstring GetFirstLineText(HWND) {
  return std::wstring();
}
void SuppressCaret(HWND) {}
void SetRichTextWithLinks(HWND, const std::wstring&, COLORREF) {}
std::wstring MarkLinks(const std::wstring&) {
  return std::wstring();
}
std::string ReplaceLinkMarkers(const std::string&, bool) {
  return std::string();
}

}  // namespace installer
