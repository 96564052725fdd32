#pragma once
// The tone table ("SOUNDTBL.CFG"), the operator's tone choice per rhythm part, the per-channel
// tone settings (volume, pitch, filter, reverb, resonance, octave) and their senders, the
// channels' reverb and chorus sends, and the tone queries of the player.
//
// Port index 0 is output port 1, 1 is port 2; channels are 0-based. The slots and settings are
// written on the window thread (and at start-up) and read by the player, the rhythm engine and
// the savers: every number is an atomic word; a slot's name is kept under a lock.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct SoundTableEntry {
  std::wstring name;
  int type = 0;
  int reserved1 = 0;
  int bank32 = 0;  // controller 32 (bank select LSB)
  int bank0 = 0;   // controller 0 (bank select MSB)
  int program = 0;
  int note = 0;
  int reserved2 = 0;
};

// The fields of one channel's tone settings, in their stored order.
enum ToneField { kToneVolume, kTonePitch, kToneFilter, kToneReverb, kToneFilterLow, kToneComp, kToneOctave, kToneFieldCount };
inline constexpr int kToneDefaults[kToneFieldCount] = {100, 0, 64, 40, 64, 0, 0};

// A plain copy of one tone slot.
struct CvtToneSlotValues {
  bool chosen = false;
  bool useDefault = false;  // the chosen entry is "Default"
  int bank32 = 0, bank0 = 0, program = 0, note = 0;
  std::wstring name;
};

struct ToneTableState {
  // One tone choice per part [0..7] and context [0 song, 1 rhythm] (only part 3 uses context 1).
  struct Slot {
    std::atomic<uint8_t> chosen{0};
    std::atomic<uint8_t> useDefault{0};
    std::atomic<int> bank32{0}, bank0{0}, program{0}, note{0};
    std::wstring name;  // under ToneTableState::nameLock
  };
  Slot CvtToneSlots[8][2];
  std::mutex nameLock;

  // [port][channel][field]: volume, pitch, filter, reverb, filterLow, comp, octave.
  std::atomic<int> ChannelToneSettings[2][16][kToneFieldCount];

  // First tone per channel (port 1 channels 0-15, then port 2): [0] the song's, [1] the style's.
  struct InitialTone {
    std::atomic<uint8_t> known{0}, hasBank{0}, msb{0}, lsb{0}, program{0};
  };
  InitialTone InitialTones[2][32];

  // The user drum kit of port 1 channels 9 and 10 ([0] and [1]): its note replaces the drum notes.
  std::atomic<uint8_t> DrumKitChosen[2]{};
  std::atomic<int> DrumKitNote[2]{};
  // The program the rhythm style last asked for on port 1 channel 10.
  std::atomic<uint8_t> StyleDrumKit2Program{0};

  ToneTableState();
};
extern ToneTableState Tones;

// The table as read; page commands address entries by index.
std::vector<SoundTableEntry> SoundTableSnapshot();
size_t SoundTableSize();
// Reads one "SOUNDTBL.CFG" text (tests and LoadSoundTable).
std::vector<SoundTableEntry> ParseSoundTable(std::string_view bytes);
void LoadSoundTable();
bool SoundTableIsEmpty();
// The page's tone-table array literal (every text escaped).
std::wstring BuildSoundTablePayload();

struct PortChannel {
  int port = 0, channel = 0;
};
// Where a part's tone goes; rhythmContext picks part 3's rhythm channel.
PortChannel CvtPartChannel(int part, bool rhythmContext);
// The slot a part keeps its choice in: part 3 has one per context, the others only context 0.
int SlotContext(int part, bool rhythmContext);
CvtToneSlotValues GetCvtToneSlot(int part, int context);
void SetCvtToneSlot(int part, int context, const CvtToneSlotValues& values);
// The table entry a slot stands for (named "Default" when it says default).
SoundTableEntry SlotEntry(const CvtToneSlotValues& slot);
void ClearCvtToneSlots();

bool ToneSettingsChanged(int port, int channel);      // the first five fields differ
bool ToneSettingsDifferAll(int port, int channel);    // any of the seven fields differs
void ResetToneSettings();

// Initial tones (song preparation, rhythm style activation).
void ClearInitialTones(int table);
void SetInitialTone(int table, int port, int channel, bool hasBank, int msb, int lsb, int program);

// Page command "APPLY_SOUND:" part ":" context ":" index; false when the index is outside the table.
bool ApplySoundSelection(int part, bool rhythmContext, int index);
void SendCvtPartTone(int part, bool rhythmContext, const SoundTableEntry& entry, bool force);
void ApplyCvtTones();
void SendChannelToneSettings(int port, int channel);
// The GS drum-instrument pitch of each listed note, closed with the null parameter.
void SendDrumPitchNrpn(uintptr_t handle, int channel, const std::vector<int>& notes, int pitch);
void ResendSendOffsets();
void SendDryDrumBassSends();

// The player's queries.
int GetCvtBassProgram();
bool IsUserBassToneSet();
bool IsUserSaxToneSet();
int UserSaxProgram();
bool IsUserDrumKitSet(int channel);
int UserDrumKitProgram(int channel);
int DrumNoteOverride(int port, int channel, int note);
int MelodyOctaveShift();

// Controller 123 on each listed channel of port 1 (opened when needed; nothing when it fails).
void AllNotesOffChannels(const std::vector<int>& channels);

// Fills the song's first tone per channel from its events (the first program change of each
// channel and the bank selects before it). Works on any list of SongEvent-like records.
template <class Events>
void SetSongInitialTones(const Events& events) {
  ClearInitialTones(0);
  int msb[2][16], lsb[2][16];
  bool bank[2][16] = {}, done[2][16] = {};
  for (auto& p : msb)
    for (int& v : p) v = 0;
  for (auto& p : lsb)
    for (int& v : p) v = 0;
  for (const auto& e : events) {
    if (e.kind != 0 || e.port > 1) continue;
    const int port = e.port, ch = e.status & 0x0F, kind = e.status & 0xF0;
    if (done[port][ch]) continue;
    if (kind == 0xB0 && (e.data1 == 0 || e.data1 == 32)) {
      (e.data1 == 0 ? msb : lsb)[port][ch] = e.data2;
      bank[port][ch] = true;
    } else if (kind == 0xC0) {
      SetInitialTone(0, port, ch, bank[port][ch], msb[port][ch], lsb[port][ch], e.data1);
      done[port][ch] = true;
    }
  }
}
