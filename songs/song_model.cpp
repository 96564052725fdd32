#include "songs/song_model.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>


namespace {

std::mutex LoadedSongMutex;
std::shared_ptr<const SongModel> LoadedSongModel = std::make_shared<SongModel>();  // guarded

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

