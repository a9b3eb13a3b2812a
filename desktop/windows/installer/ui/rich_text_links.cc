#include "desktop/windows/installer/ui/rich_text_links.h"

#include <commctrl.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "base/logging.h"
#include "base/win/system_library.h"

#ifndef ICC_LINK_CLASS
#define ICC_LINK_CLASS 0x00008000
#endif

namespace installer {

namespace {

const wchar_t kLinkStart[] = L"$1";
const wchar_t kLinkTextStart[] = L"$2";
const wchar_t kLinkEnd[] = L"$3";

const char kFieldStart[] = "{\\field{\\*\\fldinst{HYPERLINK \"";
const char kFieldResult[] = "\"}}{\\fldrslt{\\ul ";
const char kFieldEnd[] = "}}}";

const wchar_t kOldProcProperty[] = L"KavorCaretSuppressedProc";

// A literal "$" of the plain text, so that it is never taken for a marker.
const wchar_t kEscapedDollar[] = L"$0";

// One link of a marked text: the plain text between it and the link
// before, its target and the text that shows it, each without escapes.
template <typename String>
struct MarkedPiece {
  String before;
  String target;
  String text;
};

// Splits a text made by MarkLinks (or its RTF) into its complete links and
// the plain text after the last one, turning each escaped "$" back into
// "$". A marker that does not complete a link stays as it is.
template <typename String>
std::vector<MarkedPiece<String>> SplitMarked(const String& marked,
                                             String* rest) {
  typedef typename String::value_type Char;
  std::vector<MarkedPiece<String>> links;
  MarkedPiece<String> link;
  int part = 0;  // 0: plain text, 1: target, 2: link text.
  String* parts[] = {&link.before, &link.target, &link.text};
  for (size_t i = 0; i < marked.size(); ++i) {
    const Char c = marked[i];
    if (c != Char('$') || i + 1 == marked.size() || marked[i + 1] < Char('0') ||
        marked[i + 1] > Char('3')) {
      *parts[part] += c;
      continue;
    }
    const int code = marked[++i] - Char('0');
    if (code == 0) {
      *parts[part] += Char('$');
    } else if (code == part + 1) {
      if (++part == 3) {
        links.push_back(link);
        link = MarkedPiece<String>();
        part = 0;
      }
    } else {
      *parts[part] += c;
      *parts[part] += marked[i];
    }
  }
  // An incomplete link is plain text.
  if (part > 0) {
    link.before += Char('$');
    link.before += Char('1');
    link.before += link.target;
  }
  if (part > 1) {
    link.before += Char('$');
    link.before += Char('2');
    link.before += link.text;
  }
  *rest = link.before;
  return links;
}

typedef MarkedPiece<std::wstring> MarkedLink;

// The |count| characters of |text| from |first|, each "$" escaped.
std::wstring EscapeDollars(const std::wstring& text,
                           size_t first,
                           size_t count) {
  std::wstring escaped;
  const size_t end = first + std::min(count, text.size() - first);
  for (size_t i = first; i < end; ++i) {
    if (text[i] == L'$')
      escaped += kEscapedDollar;
    else
      escaped += text[i];
  }
  return escaped;
}

// The links of a text made by MarkLinks, in order.
std::vector<MarkedLink> FindMarkedLinks(const std::wstring& marked) {
  std::wstring rest;
  return SplitMarked(marked, &rest);
}

// A link range that the rich edit could not keep as a hyperlink field.
struct LinkRange {
  LONG first;
  LONG last;
  std::wstring target;
};

// The link ranges SetRichTextWithLinks marked itself, per control. Entries
// of destroyed controls are dropped whenever the map changes.
std::map<HWND, std::vector<LinkRange>>& MarkedRanges() {
  static std::map<HWND, std::vector<LinkRange>>* ranges =
      new std::map<HWND, std::vector<LinkRange>>();
  return *ranges;
}

void SetMarkedRanges(HWND control, std::vector<LinkRange> ranges) {
  auto& all = MarkedRanges();
  for (auto it = all.begin(); it != all.end();) {
    if (!::IsWindow(it->first))
      it = all.erase(it);
    else
      ++it;
  }
  if (ranges.empty())
    all.erase(control);
  else
    all[control] = std::move(ranges);
}

DWORD CALLBACK StreamOutCallback(DWORD_PTR cookie,
                                 LPBYTE buffer,
                                 LONG size,
                                 LONG* written) {
  reinterpret_cast<std::string*>(cookie)->append(
      reinterpret_cast<const char*>(buffer), size);
  *written = size;
  return 0;
}

struct StreamInSource {
  const std::string* rtf;
  size_t position;
};

DWORD CALLBACK StreamInCallback(DWORD_PTR cookie,
                                LPBYTE buffer,
                                LONG size,
                                LONG* read) {
  StreamInSource* source = reinterpret_cast<StreamInSource*>(cookie);
  size_t left = source->rtf->size() - source->position;
  size_t count = size < 0 ? 0 : static_cast<size_t>(size);
  if (count > left)
    count = left;
  memcpy(buffer, source->rtf->data() + source->position, count);
  source->position += count;
  *read = static_cast<LONG>(count);
  return 0;
}

std::string StreamOutRtf(HWND control) {
  std::string rtf;
  EDITSTREAM stream = {};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&rtf);
  stream.pfnCallback = &StreamOutCallback;
  ::SendMessageW(control, EM_STREAMOUT, SF_RTF,
                 reinterpret_cast<LPARAM>(&stream));
  return rtf;
}

// False (and an error in the log) when the control took no text.
bool StreamInRtf(HWND control, const std::string& rtf) {
  StreamInSource source = {&rtf, 0};
  EDITSTREAM stream = {};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = &StreamInCallback;
  const LRESULT read = ::SendMessageW(control, EM_STREAMIN, SF_RTF,
                                      reinterpret_cast<LPARAM>(&stream));
  if (stream.dwError != 0 || (read <= 0 && !rtf.empty())) {
    LOG(ERROR) << "Streaming the rich text into the control failed, error "
               << stream.dwError << ", " << read << " characters read.";
    return false;
  }
  return true;
}

// The control's text with one character per character position (paragraph
// ends are a single "\r").
std::wstring GetControlText(HWND control) {
  GETTEXTLENGTHEX length_query = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  LRESULT length = ::SendMessageW(control, EM_GETTEXTLENGTHEX,
                                  reinterpret_cast<WPARAM>(&length_query), 0);
  if (length <= 0)
    return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  GETTEXTEX query = {};
  query.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  query.flags = GT_DEFAULT;
  query.codepage = 1200;
  LRESULT copied =
      ::SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&query),
                     reinterpret_cast<LPARAM>(&text[0]));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

std::wstring GetTextRange(HWND control, LONG first, LONG last) {
  if (last <= first)
    return std::wstring();
  std::wstring text(static_cast<size_t>(last - first) + 1, L'\0');
  TEXTRANGEW range = {{first, last}, &text[0]};
  LRESULT copied = ::SendMessageW(control, EM_GETTEXTRANGE, 0,
                                  reinterpret_cast<LPARAM>(&range));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

bool IsLinkRange(HWND control, LONG first, LONG last) {
  ::SendMessageW(control, EM_SETSEL, first, last);
  CHARFORMATW format = {};
  format.cbSize = sizeof(format);
  ::SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION,
                 reinterpret_cast<LPARAM>(&format));
  return (format.dwMask & CFM_LINK) && (format.dwEffects & CFE_LINK);
}

void MarkLinkRange(HWND control, LONG first, LONG last) {
  ::SendMessageW(control, EM_SETSEL, first, last);
  CHARFORMATW format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_LINK | CFM_UNDERLINE;
  format.dwEffects = CFE_LINK | CFE_UNDERLINE;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION,
                 reinterpret_cast<LPARAM>(&format));
}

// |text| with its line ends as the rich edit keeps them: one "\r" each.
std::wstring WithRichEditLineEnds(const std::wstring& text) {
  std::wstring result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n')
      continue;
    result += text[i] == L'\n' ? L'\r' : text[i];
  }
  return result;
}

// The character ranges of |links| in the control's text, in order; stops
// at the first link whose text is missing. A link is looked for with the
// text before it, so that the same words earlier in the text are not
// taken for it.
std::vector<CHARRANGE> FindLinkRanges(HWND control,
                                      const std::vector<MarkedLink>& links) {
  const std::wstring text = GetControlText(control);
  std::vector<CHARRANGE> ranges;
  size_t pos = 0;
  for (const MarkedLink& link : links) {
    const std::wstring before = WithRichEditLineEnds(link.before);
    const std::wstring shown = WithRichEditLineEnds(link.text);
    size_t found = text.find(before + shown, pos);
    if (found != std::wstring::npos) {
      found += before.size();
    } else {
      // A line break put before the link is no part of the marked text.
      found = text.find(shown, pos);
      if (found == std::wstring::npos)
        break;
    }
    pos = found + shown.size();
    ranges.push_back({static_cast<LONG>(found), static_cast<LONG>(pos)});
  }
  return ranges;
}

// Link texts that the rich edit does not show as links (its hyperlink
// fields were dropped) are marked as links here and their targets
// remembered, so that a click still gives EN_LINK and GetLinkTarget still
// knows where it leads. |found| are the FindLinkRanges of |links|.
void MarkDroppedLinks(HWND control,
                      const std::vector<MarkedLink>& links,
                      const std::vector<CHARRANGE>& found) {
  std::vector<LinkRange> ranges;
  for (size_t i = 0; i < found.size(); ++i) {
    if (found[i].cpMin == found[i].cpMax ||
        IsLinkRange(control, found[i].cpMin, found[i].cpMax)) {
      continue;
    }
    MarkLinkRange(control, found[i].cpMin, found[i].cpMax);
    ranges.push_back({found[i].cpMin, found[i].cpMax, links[i].target});
  }
  ::SendMessageW(control, EM_SETSEL, 0, 0);
  SetMarkedRanges(control, std::move(ranges));
}

// The targets of the links SetRichTextWithLinks showed in each control, in
// order; entries of destroyed controls are dropped whenever the map changes.
std::map<HWND, std::vector<std::wstring>>& ShownTargets() {
  static std::map<HWND, std::vector<std::wstring>>* targets =
      new std::map<HWND, std::vector<std::wstring>>();
  return *targets;
}

void SetShownTargets(HWND control, const std::vector<MarkedLink>& links) {
  auto& all = ShownTargets();
  for (auto it = all.begin(); it != all.end();) {
    if (!::IsWindow(it->first))
      it = all.erase(it);
    else
      ++it;
  }
  std::vector<std::wstring> targets;
  for (const MarkedLink& link : links)
    targets.push_back(link.target);
  if (targets.empty())
    all.erase(control);
  else
    all[control] = std::move(targets);
}

// The text of |marked| with each link shown as its words: better than the
// markers when the rich text cannot be streamed.
void ShowPlainText(HWND control, const std::wstring& marked) {
  std::wstring rest;
  std::wstring plain;
  for (const MarkedLink& link : SplitMarked(marked, &rest))
    plain += link.before + link.text;
  plain += rest;
  ::SetWindowTextW(control, plain.c_str());
  SetMarkedRanges(control, std::vector<LinkRange>());
  SetShownTargets(control, std::vector<MarkedLink>());
}

LRESULT CALLBACK CaretSuppressingProc(HWND control,
                                      UINT message,
                                      WPARAM wparam,
                                      LPARAM lparam) {
  WNDPROC old_proc =
      reinterpret_cast<WNDPROC>(::GetPropW(control, kOldProcProperty));
  if (!old_proc)
    return ::DefWindowProcW(control, message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(control, GWLP_WNDPROC,
                        reinterpret_cast<LONG_PTR>(old_proc));
    ::RemovePropW(control, kOldProcProperty);
  }
  LRESULT result =
      ::CallWindowProcW(old_proc, control, message, wparam, lparam);
  // The control makes its caret when it takes the focus.
  if (message == WM_SETFOCUS)
    ::HideCaret(control);
  return result;
}

}  // namespace

bool InitCommonControlClasses() {
  typedef BOOL(WINAPI *
               InitCommonControlsExFunction)(const INITCOMMONCONTROLSEX*);
  static HMODULE comctl32 = base::win::LoadSystemLibrary(L"comctl32.dll");
  InitCommonControlsExFunction init_common_controls =
      comctl32 ? reinterpret_cast<InitCommonControlsExFunction>(
                     ::GetProcAddress(comctl32, "InitCommonControlsEx"))
               : nullptr;
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof(controls);
  controls.dwICC = ICC_WIN95_CLASSES | ICC_USEREX_CLASSES |
                   ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
  if (!init_common_controls || !init_common_controls(&controls)) {
    PLOG(ERROR) << "InitCommonControlsEx failed.";
    return false;
  }
  return true;
}

void InitRichEdit() {
  InitCommonControlClasses();

  static HMODULE msftedit = base::win::LoadSystemLibrary(L"Msftedit.dll");
  if (!msftedit)
    PLOG(ERROR) << "Loading library Msftedit.dll failed.";
}

void SetRichTextColor(HWND control, COLORREF color) {
  SetRangeColor(control, color, 0, -1);
}

void SetRangeColor(HWND control, COLORREF color, LONG first, LONG last) {
  static_assert(sizeof(CHARFORMATW) == 92, "the rich edit's CHARFORMATW");
  ::SendMessageW(control, EM_SETSEL, first, last);
  CHARFORMATW format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.dwEffects = 0;
  format.crTextColor = color;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION,
                 reinterpret_cast<LPARAM>(&format));
}

std::wstring GetFirstLineText(HWND control) {
  LRESULT line_start = ::SendMessageW(control, EM_LINEINDEX, 0, 0);
  if (line_start < 0)
    return std::wstring();
  LRESULT length = ::SendMessageW(control, EM_LINELENGTH, line_start, 0);
  if (length <= 0)
    return std::wstring();
  // EM_GETLINE reads the buffer size from the buffer's first WORD.
  std::wstring line(static_cast<size_t>(length) + 2, L'\0');
  line[0] = static_cast<wchar_t>(line.size());
  LRESULT copied = ::SendMessageW(control, EM_GETLINE, 0,
                                  reinterpret_cast<LPARAM>(&line[0]));
  line.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  // A line that ends its paragraph ends with "\r".
  while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n'))
    line.pop_back();
  return line;
}

void SuppressCaret(HWND control) {
  if (::GetPropW(control, kOldProcProperty))
    return;
  LONG_PTR old_proc = ::GetWindowLongPtrW(control, GWLP_WNDPROC);
  if (!old_proc)
    return;
  ::SetPropW(control, kOldProcProperty, reinterpret_cast<HANDLE>(old_proc));
  ::SetWindowLongPtrW(control, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(&CaretSuppressingProc));
}

std::wstring MarkLinks(const std::wstring& text) {
  std::wstring marked;
  size_t pos = 0;
  while (true) {
    const size_t anchor = text.find(L"<a ", pos);
    if (anchor == std::wstring::npos)
      break;
    const size_t href = text.find(L"href=\"", anchor);
    if (href == std::wstring::npos)
      break;
    const size_t target_start = href + 6;
    const size_t target_end = text.find(L'"', target_start);
    if (target_end == std::wstring::npos)
      break;
    const size_t tag_end = text.find(L'>', target_end);
    if (tag_end == std::wstring::npos)
      break;
    const size_t close = text.find(L"</a>", tag_end);
    // An incomplete anchor is left as it is, with everything after it.
    if (close == std::wstring::npos)
      break;
    marked += EscapeDollars(text, pos, anchor - pos);
    marked += kLinkStart;
    marked += EscapeDollars(text, target_start, target_end - target_start);
    marked += kLinkTextStart;
    marked += EscapeDollars(text, tag_end + 1, close - tag_end - 1);
    marked += kLinkEnd;
    pos = close + 4;
  }
  marked += EscapeDollars(text, pos, std::wstring::npos);
  return marked;
}

namespace {

// Replaces each whole $1target$2text$3 of |rtf|; only a complete triple is
// replaced, so a stray marker cannot unbalance the RTF's braces.
template <typename Replace>
std::string ReplaceMarkedLinks(const std::string& rtf, Replace replace) {
  std::string rest;
  const std::vector<MarkedPiece<std::string>> links = SplitMarked(rtf, &rest);
  std::string result;
  bool first = true;
  for (const MarkedPiece<std::string>& link : links) {
    result += link.before;
    replace(first, link.target, link.text, &result);
    first = false;
  }
  result += rest;
  return result;
}

}  // namespace

std::string ReplaceLinkMarkers(const std::string& rtf, bool link_on_new_line) {
  return ReplaceMarkedLinks(
      rtf, [link_on_new_line](bool first, const std::string& target,
                              const std::string& text, std::string* out) {
        if (first && link_on_new_line)
          *out += "\\line";
        *out += kFieldStart;
        *out += target;
        *out += kFieldResult;
        *out += text;
        *out += kFieldEnd;
      });
}

std::string ReplaceLinkMarkersWithText(const std::string& rtf) {
  return ReplaceMarkedLinks(rtf, [](bool first, const std::string& target,
                                    const std::string& text, std::string* out) {
    *out += "{\\ul ";
    *out += text;
    *out += "}";
  });
}

void SetRichTextWithLinks(HWND control,
                          const std::wstring& text,
                          COLORREF color) {
  const std::wstring marked = MarkLinks(text);
  ::SetWindowTextW(control, marked.c_str());
  SetRichTextColor(control, color);
  const std::string rtf = StreamOutRtf(control);
  if (rtf.empty()) {
    LOG(ERROR) << "Streaming the rich text out of the control failed.";
    ShowPlainText(control, marked);
    return;
  }
  if (!StreamInRtf(control, ReplaceLinkMarkers(rtf, false)) ||
      (LinkStartsAtLineEnd(GetFirstLineText(control)) &&
       !StreamInRtf(control, ReplaceLinkMarkers(rtf, true)))) {
    ShowPlainText(control, marked);
    return;
  }

  const std::vector<MarkedLink> links = FindMarkedLinks(marked);
  SetShownTargets(control, links);
  if (links.empty()) {
    SetMarkedRanges(control, std::vector<LinkRange>());
    return;
  }
  std::vector<CHARRANGE> found = FindLinkRanges(control, links);
  // A rich edit that drops hyperlink fields drops their text with them.
  if (found.size() != links.size()) {
    if (!StreamInRtf(control, ReplaceLinkMarkersWithText(rtf))) {
      ShowPlainText(control, marked);
      return;
    }
    found = FindLinkRanges(control, links);
  }
  MarkDroppedLinks(control, links, found);
}

std::wstring GetLinkTarget(HWND control, const ENLINK* link) {
  if (!link)
    return std::wstring();
  auto& all = MarkedRanges();
  auto ranges = all.find(control);
  if (ranges != all.end()) {
    for (const LinkRange& range : ranges->second) {
      if (link->chrg.cpMin < range.last && link->chrg.cpMax > range.first)
        return range.target;
    }
  }
  return LinkTargetOfRangeText(
      GetTextRange(control, link->chrg.cpMin, link->chrg.cpMax));
}

std::wstring GetFirstLinkTarget(HWND control) {
  auto& all = ShownTargets();
  auto targets = all.find(control);
  if (targets == all.end() || targets->second.empty() || !::IsWindow(control))
    return std::wstring();
  return targets->second.front();
}

bool LinkStartsAtLineEnd(const std::wstring& first_line) {
  const std::wstring kSplitLink = L"HYPERLINK ";
  return first_line.size() >= kSplitLink.size() &&
         first_line.compare(first_line.size() - kSplitLink.size(),
                            kSplitLink.size(), kSplitLink) == 0;
}

std::wstring LinkTargetOfRangeText(const std::wstring& text) {
  const std::wstring kInstruction = L"HYPERLINK \"";
  const size_t instruction = text.find(kInstruction);
  if (instruction != std::wstring::npos) {
    const size_t start = instruction + kInstruction.size();
    const size_t end = text.find(L'"', start);
    if (end != std::wstring::npos)
      return text.substr(start, end - start);
  }
  return text;
}

}  // namespace installer
