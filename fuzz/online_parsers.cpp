// libFuzzer target: the readers of what the web board sends (stored ZIP packages and their entry
// names, flat JSON, list and post pages, attachment links, the transposition table) never crash,
// hang or read out of bounds (post pages and their text too); an entry name judged safe never leads out of its folder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "online/board.h"
#include "online/https.h"
#include "online/package.h"
#include "online/post_text.h"
#include "online/text_refresh.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<ZipEntry> entries;
  ExtractStoredZip(bytes, entries);
  for (const ZipEntry& e : entries) {
    if (e.data.size() > size) __builtin_trap();
    if (IsSafeEntryName(e.name) &&
        (e.name.find(L"..") == 0 || e.name.find(L"/../") != std::wstring::npos || e.name.front() == L'/' ||
         e.name.find(L'\\') != std::wstring::npos || e.name.find(L':') != std::wstring::npos))
      __builtin_trap();
  }
  ParseFlatJson(Utf8ToWide(bytes));
  for (std::wstring_view board : {kSongBoard, kProgramBoard}) {
    ExtractWrIds(bytes, board);
    BoardDateMap dates = ExtractWrIdDates(bytes, board);
    for (const auto& [id, date] : dates)
      if (date.size() != 10) __builtin_trap();
    ParsePostInfo(bytes, board, 7);
  }
  ExtractPostTitle(bytes);
  int zipNo = 0, exeNo = 0, sigNo = 0;
  ParseDownloadLinks(bytes, zipNo, exeNo, sigNo);
  int count = 0;
  std::vector<int> numbers;
  CountKeysigEntries(bytes, count, &numbers);
  if (count != static_cast<int>(numbers.size())) __builtin_trap();
  std::wstring title, content;
  ParsePostTitleAndContent(bytes, title, content);
  if (content.size() > 1500 + 16) __builtin_trap();
  HtmlToText(bytes);
  AesDecryptCbc(bytes);
  return 0;
}
