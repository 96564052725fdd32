#include "songs/song_model.h"

#include <mutex>

#include "songs/keysig.h"
#include "songs/loudness.h"
#include "songs/midi_parser.h"
#include "songs/song_text.h"
#include "sound/services.h"

namespace {

std::mutex LoadedSongMutex;
std::shared_ptr<const SongModel> LoadedSongModel = std::make_shared<SongModel>();  // guarded

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

std::shared_ptr<const SongModel> LoadedSong() {
  std::lock_guard lock(LoadedSongMutex);
  return LoadedSongModel;
}

void PublishSongModel(std::shared_ptr<const SongModel> model) {
  if (!model) model = std::make_shared<SongModel>();
  std::shared_ptr<const SongModel> previous;
  {
    std::lock_guard lock(LoadedSongMutex);
    previous = std::exchange(LoadedSongModel, std::move(model));
  }
  // The previous song is freed here (or by its last reader), outside the lock.
}

void FillBassPartNotes(SongModel& model) {
  model.BassPartNotes.clear();
  int open[128];
  std::fill(std::begin(open), std::end(open), -1);
  for (const auto& e : model.SongEventList) {
    if (e.kind != kSongEventChannel || e.port != 0 || (e.status & 0x0F) != 8 || e.data1 > 127) continue;
    const int type = e.status & 0xF0;
    if (type == 0x90 && e.data2 > 0) {
      open[e.data1] = static_cast<int>(model.BassPartNotes.size());
      model.BassPartNotes.push_back({e.data1, static_cast<int>(e.tick), 0});
    } else if (type == 0x80 || type == 0x90) {
      int& slot = open[e.data1];
      if (slot >= 0) {
        auto& n = model.BassPartNotes[slot];
        n.length = static_cast<int>(e.tick - static_cast<uint32_t>(n.start));
        slot = -1;
      }
    }
  }
}

std::shared_ptr<const SongModel> RebuildSongModel(const std::wstring& midiPath, const std::wstring& textPath) {
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
  const size_t parsedEvents = model->SongEventList.size();
  ApplyPatchTable(model->SongEventList);
  // The patch table may add bank selects: the articulation is kept per event and follows them.
  if (model->SongEventList.size() != parsedEvents) BuildMelodyArticulation(*model);
  ComputeSingerKeys(*model);
  LoadSongExtraText(*model, textPath);
  FillBassPartNotes(*model);
  PublishSongModel(model);
  return model;
}
