#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_

#include <windows.h>

#include <string>

namespace installer {

// Initialises the common controls and loads the rich-edit library; call
// before any installer window or message box is made. Failures are logged.
void InitRichEdit();

void SetRichTextColor(HWND control, COLORREF color);
void SetRangeColor(HWND control, COLORREF color, LONG first, LONG last);
// The text of the control's first line (empty when it is empty).
std::wstring GetFirstLineText(HWND control);
// Never shows a caret in |control| (a read-only text that takes the focus).
void SuppressCaret(HWND control);

// Shows |text| in the rich-edit |control| in |color|, each <a href="x">y</a>
// of the text becoming a hyperlink y to x.
void SetRichTextWithLinks(HWND control,
                          const std::wstring& text,
                          COLORREF color);

// The plain text with every anchor turned into "$1" target "$2" link text
// "$3" (the first step of SetRichTextWithLinks).
std::wstring MarkLinks(const std::wstring& text);
// The RTF with the markers of MarkLinks replaced by hyperlink fields; with
// |link_on_new_line| the first link starts on a new line.
std::string ReplaceLinkMarkers(const std::string& rtf, bool link_on_new_line);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
