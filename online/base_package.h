#pragma once
// The base package: the archive of rhythm styles and system files that a new install needs. It is
// unpacked into a folder of its own, its base root found, and that root's content copied into the
// install folder. The program update bootstraps it; the operator can reinstall it from the page.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "online/https.h"
#include "online/release_signature.h"

// The install folder holds the base package (either marker file exists).
bool BaseMarkerPresent();

// The first folder, from `dir` down `depth` levels of subfolders, that holds "pxr/DS1-P1.MID" or
// "system/DS1-P1.MID"; empty when there is none.
std::filesystem::path FindBaseRoot(const std::filesystem::path& dir, int depth);

// The folder's entries for the log: each name, "\" after a folder, and a blank. `anyEntry` tells
// whether there was one.
std::wstring ListDirEntries(const std::filesystem::path& dir, bool& anyEntry);

// Unpacks the archive into `destDir` (created when missing), waiting up to 180 s.
void RunTarExtract(const std::filesystem::path& zipPath, const std::filesystem::path& destDir);

// Unpacks the archive and copies its base root into the install folder; true when a marker file
// is then present.
bool InstallBaseZip(const std::filesystem::path& zipPath);

// Whether a download answer is a web page rather than a file, and whether a file answer was cut
// short (fewer bytes than its Content-Length).
bool IsWebPageAnswer(std::string_view body);
bool IsCutShortAnswer(bool completed, std::string_view body, uint64_t contentLength);
// The same for a download: `bodySize` counts, `body` holds only the file's head.
bool IsCutShortDownload(const HttpResult& download);

// The reinstall's progress line in the page's update dialog, and its end.
void PostReinstallProgress(int percent, std::wstring_view text);
void PostUpdateDone(std::wstring_view text);
// The download's share of the progress: 45 to 80 percent while the total is known.
void ReportBaseZipDownloadProgress(uint64_t received, uint64_t total);

// The page's text when a base package came without the maker's signature or with a wrong one.
inline constexpr const wchar_t* kUnsignedBasePackage =
    L"기초파일(zip)에 제작사 서명이 없거나 맞지 않아 설치하지 않았습니다.";

// Checks a downloaded base package against its signature beside it on the server ("Tavelo.zip.sig").
ReleaseSignature CheckBaseZipSignature(const std::filesystem::path& zipPath, std::wstring_view extraHeaders);

// The file in a base package's base root that lists what the package may replace of the
// program, the member account and the settings ("replace=<path below the install folder>", one a
// line; "replace=program" for the program file). Signed with the package, never copied.
inline constexpr const char* kBaseManifestName = "base_manifest.txt";

// Downloads the base package into `destPath`; true when a file beginning with the ZIP signature
// was saved.
bool DownloadBaseZip(const std::filesystem::path& destPath, std::wstring_view extraHeaders,
                     std::function<void(uint64_t, uint64_t)> progress);
