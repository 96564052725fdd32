#include "platform/message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_ask.H>
#include <X11/Xlib.h>
#include <fontconfig/fontconfig.h>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/codepage.h"

namespace plat {

std::mutex& FltkMutex() {
  static std::mutex m;
  return m;
}

namespace {

bool FamilyInstalled(const char* family) {
  FcPattern* pattern = FcPatternCreate();
  if (!pattern) return false;
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, nullptr);
  FcFontSet* set = objects ? FcFontList(nullptr, pattern, objects) : nullptr;
  bool found = set && set->nfont > 0;
  if (set) FcFontSetDestroy(set);
  if (objects) FcObjectSetDestroy(objects);
  FcPatternDestroy(pattern);
  return found;
}

}  // namespace

const char* UseKoreanFltkFont() {
  static const char* family = nullptr;
  if (family) return family;
  family = "Noto Sans CJK KR";
  for (const char* f : {"NanumGothic", "Noto Sans CJK KR"}) {
    if (FamilyInstalled(f)) {
      family = f;
      break;
    }
  }
  // Xft font names carry the style in their first character: ' ' normal, 'B' bold.
  static const std::string normal = std::string(" ") + family, bold = std::string("B") + family;
  Fl::set_font(FL_HELVETICA, normal.c_str());
  Fl::set_font(FL_HELVETICA_BOLD, bold.c_str());
  return family;
}

bool DisplayAvailable() {
  const char* d = std::getenv("DISPLAY");
  if (!d || !*d) return false;
  static std::mutex m;
  static bool reached = false;  // once reached, the display stays; a failed probe is tried again
  std::lock_guard lock(m);
  if (!reached) {
    Display* dpy = XOpenDisplay(nullptr);
    reached = dpy != nullptr;
    if (dpy) XCloseDisplay(dpy);
  }
  return reached;
}

BoxResult ShowMessageBox(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                         BoxIcon icon, BoxAnswer defaultAnswer) {
  if (!DisplayAvailable()) return {defaultAnswer, false};
  std::lock_guard lock(FltkMutex());
  return ShowMessageBoxHoldingFltk(caption, text, buttons, icon, defaultAnswer);
}

BoxResult ShowMessageBoxHoldingFltk(std::wstring_view caption, std::wstring_view text, BoxButtons buttons,
                                    BoxIcon icon, BoxAnswer defaultAnswer) {
  if (!DisplayAvailable()) return {defaultAnswer, false};
  UseKoreanFltkFont();
  const std::string title = WideToUtf8Bytes(caption);
  const std::string body = WideToUtf8Bytes(text);
  fl_message_title(title.c_str());
  const char* mark = icon == BoxIcon::kQuestion ? "?" : icon == BoxIcon::kWarning ? "!"
                     : icon == BoxIcon::kError  ? "X" : "i";
  fl_message_icon()->label(mark);
  fl_message_hotspot(1);
  if (buttons == BoxButtons::kOk) {
    fl_choice("%s", nullptr, "확인", nullptr, body.c_str());
    return {BoxAnswer::kOk, true};
  }
  // fl_choice numbers its buttons right to left: 0 is the leftmost ("아니오"), 1 "예". Closing the
  // box with Escape answers 0, as closing a Windows Yes/No box answers No.
  int r = fl_choice("%s", "아니오", "예", nullptr, body.c_str());
  return {r == 1 ? BoxAnswer::kYes : BoxAnswer::kNo, true};
}

}  // namespace plat
