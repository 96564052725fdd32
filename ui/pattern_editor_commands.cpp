#include "ui/pattern_editor_commands.h"

#include <string_view>

#include "playback/red_editor.h"

namespace {

std::wstring_view ArgOf(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? std::wstring_view() : std::wstring_view(m).substr(colon + 1);
}

}  // namespace

void HandleRedOpen(const std::wstring& m) { RedOpen(ArgOf(m)); }
void HandleRedSave(const std::wstring& m) { RedSave(ArgOf(m)); }
void HandleRedRestore(const std::wstring& m) { RedRestore(ArgOf(m)); }
void HandleRedPreview(const std::wstring& m) { RedPreview(ArgOf(m)); }
void HandleRedStop(const std::wstring&) { RedStop(); }
void HandleRedMute(const std::wstring& m) { RedMute(ArgOf(m)); }
void HandleRedBpm(const std::wstring& m) { RedSetBpm(ArgOf(m)); }
void HandleRedHit(const std::wstring& m) { RedHitCommand(ArgOf(m)); }
