#pragma once
// What the rest of the program calls in the MIDI output and sound control.
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sound/builtin_synth.h"
#include "sound/insertion_effect.h"
#include "sound/midi_ports.h"
#include "sound/midi_send.h"
#include "sound/mixer.h"
#include "sound/module_setup.h"
#include "sound/patch_table.h"
#include "base/settings/ext_routing.h"
#include "sound/external_module.h"
#include "sound/tone_table.h"
#include "sound/channel_tones.h"
