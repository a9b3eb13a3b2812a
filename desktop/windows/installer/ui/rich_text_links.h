#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_

#include <windows.h>

#include <richedit.h>

#include <string>

namespace installer {

// Registers the common-control classes the installer uses (comctl32 is
// loaded at run time, from the system folder); false, with an error line,
// on failure.
bool InitCommonControlClasses();
// InitCommonControlClasses and loads the rich-edit library; call before any
// installer window or message box is made. Failures are logged.
void InitRichEdit();

void SetRichTextColor(HWND control, COLORREF color);
void SetRangeColor(HWND control, COLORREF color, LONG first, LONG last);
// The text of the control's first line (empty when it is empty).
std::wstring GetFirstLineText(HWND control);
// Never shows a caret in |control| (a read-only text that takes the focus).
void SuppressCaret(HWND control);

// Shows |text| in the rich-edit |control| in |color|, each <a href="x">y</a>
// of the text becoming a hyperlink y to x (a hyperlink field; where the rich
// edit drops such fields, y underlined and marked with CFE_LINK). Either way
// a click on y gives EN_LINK, and GetLinkTarget gives x.
void SetRichTextWithLinks(HWND control,
                          const std::wstring& text,
                          COLORREF color);

// The plain text with every anchor turned into "$1" target "$2" link text
// "$3" (the first step of SetRichTextWithLinks).
std::wstring MarkLinks(const std::wstring& text);
// The RTF with the markers of MarkLinks replaced by hyperlink fields; with
// |link_on_new_line| the first link starts on a new line.
std::string ReplaceLinkMarkers(const std::string& rtf, bool link_on_new_line);
// The RTF with each marked link reduced to its underlined link text, for a
// rich edit that drops hyperlink fields together with their text (Wine's);
// SetRichTextWithLinks then marks those ranges as links itself.
std::string ReplaceLinkMarkersWithText(const std::string& rtf);

// The target of the link that |link| (an EN_LINK notification of |control|)
// is about, e.g. "tos". A rich edit that keeps hyperlink fields reports the
// field's range, whose text holds HYPERLINK "target"; one that drops fields
// (Wine's) gets the link text marked with CFE_LINK by SetRichTextWithLinks,
// which then remembers the targets of those ranges. Otherwise the link's
// text itself (an automatically detected URL). Empty when |link| is null.
std::wstring GetLinkTarget(HWND control, const ENLINK* link);

// The target of the first link SetRichTextWithLinks showed in |control|
// (what a keyboard user opens); empty when it shows none.
std::wstring GetFirstLinkTarget(HWND control);

// Whether the first line of a text with hyperlink fields ends where a link
// begins: the rich edit then shows the field's instruction there, and the
// link has to start on a new line.
bool LinkStartsAtLineEnd(const std::wstring& first_line);
// The target of a link whose range text is |text|: the "target" of a
// HYPERLINK "target" instruction, else the text itself.
std::wstring LinkTargetOfRangeText(const std::wstring& text);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RICH_TEXT_LINKS_H_
