// Choice of the song's insertion effect and its output level.
#include "sound/insertion_effect.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>

#include "base/debug_log.h"
#include "sound/midi_send.h"
#include "sound/mixer_state.h"
#include "sound/module_sysex.h"
#include "songs/song_model.h"


namespace {

// The channels of the loaded song that play notes, worked out once per song: the player asks
// channel by channel. Any thread may ask; `mu` guards the rest.
struct SongNoteChannels {
  std::mutex mu;
  std::weak_ptr<const SongModel> song;  // the song they belong to (its control block stays)
  bool noteOn[2][16] = {};              // note-on with velocity above 0 per [port][channel]
};
SongNoteChannels g_songNotes;

const wchar_t* YesNo(bool b) { return b ? L"있음" : L"없음"; }

}  // namespace

std::vector<uint8_t> BuildPartEfxAssign(int part) {
  int block = part == 10 ? 0 : part <= 9 ? part : part - 1;
  return BuildGsDt1(0x40, static_cast<uint8_t>(0x40 | (block & 0x0F)), 0x22, {0});
}

std::vector<uint8_t> BuildEfxLevelSysEx(int level) {
  int value = (level & 0x80) ? 127 : (level & 0x7F);
  return BuildGsDt1(0x40, 0x03, 0x16, {static_cast<uint8_t>(value)});
}

void SendEfxLevel(int level) { SendSysExBothPorts(BuildEfxLevelSysEx(level)); }

int ScaledEfxLevel() {
  int level = Sound.SongEfxLevel.load();
  if (level < 0) return -1;
  return std::clamp(level * Mixer.EffectiveChannelPercent[0][15].load() / 100, 0, 127);
}

bool SongHasNoteOn(int port, int channel) {
  if (port < 0 || port > 1 || channel < 0 || channel > 15) return false;
  const std::shared_ptr<const SongModel> song = LoadedSong();
  std::lock_guard lock(g_songNotes.mu);
  if (g_songNotes.song.owner_before(song) || song.owner_before(g_songNotes.song)) {
    g_songNotes.song = song;
    for (auto& row : g_songNotes.noteOn) std::fill(std::begin(row), std::end(row), false);
    for (const SongEvent& e : song->SongEventList)
      if (e.kind == kSongEventChannel && e.port <= 1 && (e.status & 0xF0) == 0x90 && e.data2 > 0)
        g_songNotes.noteOn[e.port][e.status & 0x0F] = true;
  }
  return g_songNotes.noteOn[port][channel];
}

void ChooseSongInsertionEffect(const SongEfxScan& s) {
  {
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.base = ModuleReplayList.list.size();
  }
  const wchar_t* effect = nullptr;
  const wchar_t* partFile = nullptr;
  const wchar_t* reason = L"해당 없음";
  int kept = 0;
  if (s.ownEfx) {
    reason = L"곡이 자기 EFX(40 03 00)를 들고 있어 앱은 물러남";
  } else if (s.notes16 && (s.program16 == -1 || (s.program16 >= 24 && s.program16 <= 31))) {
    effect = L"B-DistGt.syx", partFile = L"D16-0n.syx", reason = L"ch16 에 노트 있음(1st Ins 우선)", kept = 16;
  } else if ((s.program3 == 24 || s.program3 == 25) && s.notes3) {
    effect = L"B-AcGt.syx", partFile = L"D03-0n.syx", reason = L"ch3 어쿠스틱기타(prog 24/25)", kept = 3;
  } else if (s.program3 >= 26 && s.program3 <= 28 && s.bank3 == 0 && s.notes3) {
    effect = L"B-ClnGt.syx", partFile = L"D03-0n.syx", reason = L"ch3 클린기타(prog 26~28)", kept = 3;
  } else if ((s.program6 == 4 || s.program6 == 5) && s.bank6 == 0 && s.notes6) {
    effect = L"B-Rhodes.syx", partFile = L"D06-0n.syx", reason = L"ch6 로즈(prog 4/5)", kept = 6;
  }
  DebugLogAsync(L"[INSFX] " + std::wstring(effect ? effect : L"인서션 없음") + L" - " + reason +
                L"  | ch3 prog=" + std::to_wstring(s.program3) + L" bank=" + std::to_wstring(s.bank3) +
                L" 노트=" + YesNo(s.notes3) + L"  | ch6 prog=" + std::to_wstring(s.program6) +
                L" bank=" + std::to_wstring(s.bank6) + L" 노트=" + YesNo(s.notes6) +
                L"  | ch16 prog=" + std::to_wstring(s.program16) + L" 노트=" + YesNo(s.notes16) +
                L"  | 곡내장EFX=" + (s.ownEfx ? L"예" : L"아니오"));
  DebugLogAsync(L"[드럼파트] 곡 내장 리듬 파트 지정 " + std::to_wstring(s.rhythmPartAssigns) + L"개" +
                (s.rhythmPartAssigns > 0 ? L" - 곡이 스스로 지정한다"
                                         : L" - *없음* 앱이 리셋 뒤 재지정해 줘야 드럼으로 울린다"));
  if (effect) {
    std::vector<SysExMessage> sent;
    const auto& fx = GetSyxMessages(effect);
    const auto& part = GetSyxMessages(partFile);
    for (const auto* list : {&fx, &part})
      for (const auto& m : *list) {
        SendSysExBothPorts(m);
        sent.push_back(m);
      }
    int base = -1;
    for (const auto& m : fx)
      if (m.size() >= 10 && m[1] == 0x41 && m[3] == 0x42 && m[4] == 0x12 && m[5] == 0x40 &&
          m[6] == 0x03 && m[7] == 0x16) {
        base = m[8] & 0x7F;
        break;
      }
    bool fromFile = base >= 0;
    if (!fromFile) base = std::wstring_view(effect) == L"B-DistGt.syx" ? 50 : 70;
    Sound.SongEfxLevel.store(base);
    int scaled = ScaledEfxLevel();
    DebugLogAsync(L"[INSFX] 출력레벨(40 03 16) 기준값 " + std::to_wstring(base) +
                  (fromFile ? L" (" + std::wstring(effect) + L" 파일값)" : std::wstring(L" (앱 상수)")) +
                  L" x 솔로2 " + std::to_wstring(Mixer.EffectiveChannelPercent[0][15].load()) + L"% = " +
                  std::to_wstring(scaled));
    SendEfxLevel(scaled);
    std::lock_guard lock(ModuleReplayList.mu);
    ModuleReplayList.list.insert(ModuleReplayList.list.end(), sent.begin(), sent.end());
  } else {
    Sound.SongEfxLevel.store(-1);
  }
  if (kept != 16)
    for (const auto& m : GetSyxMessages(L"D16-Off.syx")) SendSysExBothPorts(m);
  for (int part : {3, 6, 9, 10, 12, 13})
    if (part != kept) SendSysExBothPorts(BuildPartEfxAssign(part));
}
