// The player's and the rhythm engine's shared state.
#include "playback/services.h"

PlaybackStateValues PlaybackState;
CvtStateValues CvtState;
HeldSongTonesValues HeldSongTones;
AttachStateValues AttachState;
