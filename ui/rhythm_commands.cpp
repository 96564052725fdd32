// Page commands of the rhythm engine.
#include "ui/rhythm_commands.h"

#include <atomic>

#include "base/page_script.h"
#include "base/text.h"
#include "platform/clock.h"
#include "playback/rhythm_engine.h"
#include "playback/rhythm_fills.h"
#include "playback/services.h"
#include "sound/midi_send.h"
#include "sound/rhythm_parts.h"

namespace {

int Argument(const std::wstring& m) {
  const size_t colon = m.find(L':');
  return colon == std::wstring::npos ? 0 : LeadingInt(std::wstring_view(m).substr(colon + 1));
}

// The switches' notice: a dark box at the top of the stage for 1.5 s, made on first use.
void ShowSwitchToast(std::wstring_view text) {
  PostScriptToPage(GuardedScript(
      L"var t=document.getElementById('rhythm-switch-toast'); if(!t){ t=document.createElement('div'); t.id='rhythm-switch-toast'; "
      L"t.style.cssText='position:fixed;top:70px;left:50%;transform:translateX(-50%);background:rgba(20,20,20,0.9);"
      L"color:#fff;font-size:26px;font-weight:bold;padding:10px 24px;border-radius:10px;z-index:99999;display:none;';"
      L" document.body.appendChild(t); } t.innerText=" +
      ScriptString(text) +
      L"; t.style.display='block'; clearTimeout(t.__h); t.__h=setTimeout(function(){ t.style.display='none'; }, 1500);"));
}

}  // namespace

void HandleRhythmOn(const std::wstring&) { StartCvtRhythm(); }

void HandleRhythmOff(const std::wstring& m) { RequestRhythmOff(Argument(m)); }

void HandleRhythmStyle(const std::wstring& m) {
  SelectRhythmStyle(Argument(m));
  if (!CvtState.rhythm.load()) StartCvtRhythm();
}

void HandleCvtSnareSub(const std::wstring& m) {
  if (!ToggleRhythmSubstitution(Argument(m))) return;
  PushRhythmUi();
  ShowSwitchToast(RhythmSubstitutionToast());
}

void HandleCvtFill(const std::wstring& m) { StartManualFill(Argument(m)); }

int QfxNote() {
  const int note = CvtState.QfxNote.load();
  return note >= 27 && note <= 87 ? note : 54;
}

void HandleCvtQfx(const std::wstring&) {
  const MidiOutHandle p1 = Sound.MidiOutPort1.load();
  if (!p1) return;
  const int note = QfxNote();
  SendShortMidi(p1, PackMidi(0x8C, note, 0));
  SendShortMidi(p1, PackMidi(0x9C, note, 110));
  CvtState.QfxNoteSent = static_cast<uint8_t>(note);
  const uint32_t now = plat::TimeGetTime();
  CvtState.QfxNoteOnTime = now == 0 ? 1 : now;  // the rhythm engine ends it
}

void HandleSetQfx(const std::wstring& m) {
  const int note = Argument(m);
  if (note >= 27 && note <= 87) CvtState.QfxNote = note;
}
