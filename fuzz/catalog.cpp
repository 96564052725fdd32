// libFuzzer target: the catalogue's readers of untrusted bytes (song texts in any encoding,
// catalogue lines, MIDI file headers and track names, file-name patterns) never crash, hang or
// read out of bounds, and quoting a field always splits back to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"
#include "songs/file_listing.h"
#include "songs/midi_probes.h"
#include "songs/song_catalog.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string utf8 = DecodeTextToUtf8(bytes);
  for (const std::wstring& line : TakeSongTextLines(utf8)) {
    ExtractChosung(line);
    // A quoted text field splits back to itself (the field never holds a line break here).
    const std::string quoted = QuoteCsvField(line);
    const auto fields = SplitCsvLine("1," + quoted + ",x");
    if (fields.size() != 3 || fields[1] != WideToUtf8(line)) __builtin_trap();
  }
  SplitCsvLine(bytes);
  FindNamedTracks(bytes);
  NormalizeTrackName(bytes);
  const size_t half = size / 2;
  MatchFileNamePattern(bytes.substr(0, half), bytes.substr(half));
  return 0;
}
