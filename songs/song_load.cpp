#include "songs/song_load.h"

#include <mutex>

#include "songs/keysig.h"
#include "songs/loudness.h"
#include "songs/midi_parser.h"
#include "songs/song_text.h"

namespace {

// One rebuild at a time: two song starts that overlap must not interleave their analyses.
std::mutex SongRebuildMutex;

// The per-event lists of the last song model that was let go, kept for the next rebuild: a song
// has hundreds of thousands of events, and memory that is already mapped is much cheaper to fill
// than fresh memory. Lists of a crafted giant file are not kept.
struct SpareEventLists {
  std::mutex mutex;
  std::vector<SongEvent> events;                      // guarded by mutex
  std::vector<MelodyArticulationEntry> articulation;  // guarded by mutex
};
constexpr size_t kMaxSpareEvents = size_t{1} << 22;  // 64 MB of events, many times a long song
SpareEventLists& Spares() {
  // Never destroyed: the loaded song may be let go during exit, after function statics are gone.
  static SpareEventLists* spares = new SpareEventLists;
  return *spares;
}

// Deleter of the models RebuildSongModel makes. It runs on whichever thread lets go of the model
// last, which then never waits for the spares: when they are busy the lists are simply freed.
void RecycleSongModel(SongModel* model) {
  {
    SpareEventLists& spares = Spares();
    std::unique_lock lock(spares.mutex, std::try_to_lock);
    if (lock && model->SongEventList.capacity() <= kMaxSpareEvents &&
        model->MelodyArticulation.capacity() <= kMaxSpareEvents) {
      spares.events.swap(model->SongEventList);
      spares.articulation.swap(model->MelodyArticulation);
    }
  }
  delete model;  // with the previous spares, if they were swapped out
}

std::shared_ptr<SongModel> MakeRecyclingSongModel() {
  std::shared_ptr<SongModel> model(new SongModel, RecycleSongModel);
  SpareEventLists& spares = Spares();
  std::lock_guard lock(spares.mutex);
  model->SongEventList.swap(spares.events);
  model->MelodyArticulation.swap(spares.articulation);
  model->SongEventList.clear();
  model->MelodyArticulation.clear();
  return model;
}

}  // namespace

std::shared_ptr<const SongModel> RebuildSongModel(const std::wstring& midiPath, const std::wstring& textPath,
                                                  SongEventAdjust adjustEvents) {
  std::lock_guard rebuild(SongRebuildMutex);
  auto model = MakeRecyclingSongModel();
  auto previous = LoadedSong();
  model->SongBaseBpm = previous->SongBaseBpm;  // for the log of a base tempo change
  ParseSongText(*model, textPath);
  if (!ParseSongMidi(*model, midiPath)) {
    // What a song without a readable MIDI file keeps of the previous song.
    model->SongPpq = previous->SongPpq;
    model->BarTicks = previous->BarTicks;
    model->SongLoudness = previous->SongLoudness;
    model->MelodyArticulation = previous->MelodyArticulation;
  }
  previous.reset();
  if (adjustEvents) {
    const size_t parsedEvents = model->SongEventList.size();
    adjustEvents(model->SongEventList);
    // The patch table may add bank selects: the articulation is kept per event and follows them.
    if (model->SongEventList.size() != parsedEvents) BuildMelodyArticulation(*model);
  }
  ComputeSingerKeys(*model);
  LoadSongExtraText(*model, textPath);
  FillBassPartNotes(*model);
  PublishSongModel(model);
  return model;
}
