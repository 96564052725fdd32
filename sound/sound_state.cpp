#include "sound/sound_state.h"

SoundState Sound;
