#pragma once
// The song catalogue file "<root>/system/songs.csv": its rows, the song files they are built
// from (song texts "P0012.txt", pop-song Korean texts "E0012.txt"), the regeneration of rows and
// the merge of new rows into the file. The in-memory song list is in songs/song_list.h.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The header line of songs.csv and song_new.csv (21 columns).
inline constexpr std::string_view kSongsCsvHeader =
    "id,nat,sex,keys,ch,tempo,genre,title,title1,subtitle,lyric,compose,singer,line1,title2,lyric2,"
    "compose2,singer2,line2,chosung,singer_chosung";
inline constexpr int kSongsCsvColumns = 21;

inline constexpr std::wstring_view kSongsCsvPath = L"<root>/system/songs.csv";
inline constexpr std::wstring_view kSongNewCsvPath = L"<root>/system/song_new.csv";

// A song text's bytes as UTF-8: UTF-16 with either byte-order mark is converted, text that is
// not valid UTF-8 is read in the ANSI code page (949), anything else is returned unchanged.
std::string DecodeTextToUtf8(std::string_view bytes);

// Decoded song text split into lines: UTF-8 byte-order mark skipped, split at LF, one trailing CR
// cut, NUL bytes removed, each line as wide text.
std::vector<std::wstring> TakeSongTextLines(std::string_view utf8);

// The Hangul initial consonant (compatibility jamo) of every Hangul syllable, in order; every
// other character is dropped. "봄날 2" -> "ㅂㄴ".
std::wstring ExtractChosung(std::wstring_view text);

// One CSV field in UTF-8: quoted, with inner quotes doubled, when it holds , " LF or CR.
std::string QuoteCsvField(std::wstring_view text);

// The fields of one CSV line (UTF-8). An empty line gives one empty field.
std::vector<std::string> SplitCsvLine(std::string_view line);
// The same into a vector that is reused (for loops over many lines).
void SplitCsvLineInto(std::string_view line, std::vector<std::string>& fields);

// The Korean title, singer and first lyric line of pop song `number` from "E<number>.txt".
// True when any of them is non-empty.
bool ReadPopCompanionText(int number, std::wstring& koTitle, std::wstring& koSinger, std::wstring& koLine1);

// The songs.csv row of song `number` built from its song text and MIDI file, without line end;
// empty when the song text gives no row.
std::string BuildSongsCsvRow(int number);

// The genre (header line 8, trimmed) of song `number`'s text; empty when there is none.
std::wstring ReadGenreFromSongText(int number);

// Builds the rows of the given songs and merges them into songs.csv; an empty list rebuilds the
// whole catalogue from every "P*.txt" of the system folder and replaces songs.csv with it. With writeSongNew and a given list, the rows made are also written
// to song_new.csv. False when songs.csv (or the wanted song_new.csv) could not be rewritten.
bool RegenerateSongsCsv(const std::vector<int>& numbers, bool writeSongNew);

// Merges catalogue lines into songs.csv: `lines` starts with a header line; each further line
// replaces the row with the same first field or is appended. songs.csv keeps its own header (the
// given one is used for a new file) and is rewritten whole without byte-order mark, LF line ends.
// `mergedCount` is the number of lines merged. A songs.csv that exists but cannot be read, that is
// a folder or that is read-only is left alone and the merge fails; false also when the file could
// not be rewritten. A rewritten songs.csv keeps its permissions. A failure is logged and, with
// `failure`, described there.
bool MergeSongsCsvRows(const std::vector<std::string>& lines, int& mergedCount, std::wstring* failure = nullptr);
// The same, except that the rows of the file are dropped: songs.csv becomes exactly `lines` (the
// existing file is never read, so a huge or broken one is replaced as well).
bool ReplaceSongsCsvRows(const std::vector<std::string>& lines, int& writtenCount, std::wstring* failure = nullptr);

// Largest songs.csv read or merged; a larger one is refused.
inline constexpr uint64_t kSongsCsvMaxBytes = 256ULL << 20;

// Rewrites song_new.csv whole: byte-order mark, the header and each row, CR LF line ends.
bool WriteSongNewCsvRows(std::string_view header, const std::vector<std::string>& rows);

// Held around every read-and-rewrite of songs.csv and of song_new.csv, by every writer.
std::mutex& SongsCsvFileMutex();
std::mutex& SongNewCsvFileMutex();
