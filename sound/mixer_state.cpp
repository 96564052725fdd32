#include "sound/mixer_state.h"

MixerState Mixer;
