#pragma once
// Every script the program sends to the page is built here. A page call is one guarded call of a
// page function, `try{ name(arg, ...); }catch(e){}`, whose arguments are written by their type:
// numbers as numbers, booleans as true/false, texts as quoted literals escaped by
// EscapeForScript, lists as array literals, and JSON or payload literals only when they come
// wrapped as such. The guard keeps a page that lacks the function (an older page, a part not yet
// loaded) from stopping the scripts that follow. Posting goes to the window thread, which runs the
// script on the main page and mirrors it to the customer page.
#include <cmath>
#include <concepts>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/text.h"

// JSON text that a parser accepted and wrote out again (so it holds nothing but JSON).
struct JsonText {
  std::wstring text;
};

// An array or object literal made by one of the payload builders, which escape every text they
// put in (the song list, the tone table, the help text).
struct ScriptLiteral {
  std::wstring_view text;
};

// A text whose line breaks are kept: each line escaped by EscapeForScript, the lines joined by the
// literal's \n (an alert's text).
struct LinesText {
  std::wstring_view text;
};

namespace page_script_detail {

void AppendNumber(std::wstring& out, double value);

inline void AppendArg(std::wstring& out, bool value) { out += value ? L"true" : L"false"; }
template <std::integral T>
  requires(!std::same_as<T, bool> && !std::same_as<T, wchar_t> && !std::same_as<T, char>)
void AppendArg(std::wstring& out, T value) {
  out += std::to_wstring(value);
}
inline void AppendArg(std::wstring& out, double value) { AppendNumber(out, value); }
inline void AppendArg(std::wstring& out, std::wstring_view text) {
  out += L'\'';
  AppendEscapedForScript(out, text);
  out += L'\'';
}
inline void AppendArg(std::wstring& out, const std::wstring& text) { AppendArg(out, std::wstring_view(text)); }
inline void AppendArg(std::wstring& out, const wchar_t* text) { AppendArg(out, std::wstring_view(text)); }
void AppendArg(std::wstring& out, LinesText lines);
inline void AppendArg(std::wstring& out, const JsonText& json) { out += json.text.empty() ? L"null" : json.text; }
inline void AppendArg(std::wstring& out, ScriptLiteral literal) {
  if (literal.text.empty()) out += L"[]";
  else out += literal.text;
}
// A value read atomically (an atomic, a settings number): written as the value it holds now.
template <typename T>
  requires requires(const T& v) {
    { v.load() } -> std::integral;
  }
void AppendArg(std::wstring& out, const T& value) {
  AppendArg(out, value.load());
}
template <typename T>
void AppendArg(std::wstring& out, const std::vector<T>& list) {
  out += L'[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += L',';
    AppendArg(out, list[i]);
  }
  out += L']';
}

}  // namespace page_script_detail

// `name(args...)` without its guard, for a caller that joins several calls in one guard.
template <typename... Args>
std::wstring PageCallText(std::wstring_view name, const Args&... args) {
  std::wstring out(name);
  out += L'(';
  bool first = true;
  ((out += first ? L"" : L",", first = false, page_script_detail::AppendArg(out, args)), ...);
  out += L')';
  return out;
}

// `try{ name(args...); }catch(e){}`.
template <typename... Args>
std::wstring PageCall(std::wstring_view name, const Args&... args) {
  return L"try{ " + PageCallText(name, args...) + L"; }catch(e){}";
}

// A quoted, escaped text literal for the rare script that is not a single call.
std::wstring ScriptString(std::wstring_view text);
// `try{ code }catch(e){}` for code of this file's own (constant code with ScriptString values).
std::wstring GuardedScript(std::wstring_view code);

// Any thread: the window thread runs the script on the main page, then on the customer page.
void PostScriptToPage(std::wstring_view script);
// Any thread: the page's alert on the main page only (the window builds the call).
void PostAlertToPage(std::wstring_view text);
// "setPlayingState(true/false)", and with the customer video on also "cwVideoPlayState(...)".
// Called when a song starts and ends.
void PostPlayingState(bool playing);
// The text shows for 4 seconds in the badge at the top of the main stage.
void ShowPageBadge(std::wstring_view text);
// A refusal or a failure the operator must hear of: logged, shown for 10 seconds in the badge, and
// kept (the last 20) so that a page that loads later shows it as well.
void ShowPageNotice(std::wstring_view text);
// The kept notices as one badge script for a page that has just loaded; empty when none.
std::wstring StandingNoticesScript();
// A save that failed: a notice "저장하지 못했습니다: <file name> (<the system's reason>)", at most
// once a minute per file. A read-only file system that was already said at start is only logged.
void ReportFailedSave(const std::filesystem::path& file, int error);
// Said once at start when nothing can be written below the install root.
void SayInstallRootReadOnly(const std::filesystem::path& root, int error);
// A large notice for 1.8 seconds.
void ShowPageToast(std::wstring_view text);
