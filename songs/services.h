#pragma once
// What other subsystems call of the song library.
#include <string>
#include <vector>

#include "songs/play_history.h"  // history and favourites, built
#include "songs/score_files.h"   // score octaves and user marks, built
#include "songs/song_indexes.h"  // genre and pop-song Korean indexes, built
