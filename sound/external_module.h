#pragma once
// The external sound module's clock (24 timing clocks per quarter note, start and stop with the
// play state), its panic, and the page's apply of its settings.
#include <string>
#include <string_view>

// The tempo values the clock follows; supplied by the player layer (SetExternalClockTempoSource).
struct ExtClockTempo {
  int styleBpm = 0;     // the running rhythm style's fixed tempo, 0 none
  int songBaseBpm = 0;  // the loaded song's first tempo, 0 unknown
  int offsetBpm = 0;    // the operator's tempo offset
};
using ExtClockTempoSource = ExtClockTempo (*)();
void SetExternalClockTempoSource(ExtClockTempoSource source);

// The clock's tempo: the style's when set, else the song's plus the offset (120 without one),
// clamped 30..300.
int ExternalClockBpm(const ExtClockTempo& t);
// Milliseconds between two timing clocks.
double ExternalClockPeriodMs(int bpm);

// Starts the clock thread when both extClock and extOn are set, else stops and joins it.
void StartStopExternalClock();
bool ExternalClockRunning();

// Controller 120 then 123 on every channel of port 1, port 2 and the module (each when open).
void AllSoundOffAllPorts();

// "EXT_LIST": the page script with the output device names, the module and its status.
std::wstring BuildExtDeviceListScript();
// "EXT_APPLY:" fields separated by tabs; returns the page script with the new status.
std::wstring ApplyExternalModuleSettings(std::wstring_view fields);
