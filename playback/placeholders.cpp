// Stand-ins for the player until it is built.
#include "playback/services.h"

PlaybackStateValues PlaybackState;
