#pragma once
// Song packages: an AES-256-CBC encrypted ZIP archive of stored (uncompressed) entries. Nothing
// here touches the disk.
#include <string>
#include <string_view>
#include <vector>

struct ZipEntry {
  std::wstring name;
  std::string data;
};

// The decrypted package without its padding; empty when the input is empty or anything fails.
std::string AesDecryptCbc(std::string_view data);
// The package key and vector (package makers: tests and benchmarks encrypt with them).
std::string PackageKey();
std::string PackageIv();

// Walks the archive's local headers, appending each stored entry. False on a compressed entry, a
// header or data that does not fit, or input that holds no entry; entries read before stay.
bool ExtractStoredZip(std::string_view zip, std::vector<ZipEntry>& entries);

// True when an entry name may be written below the system folder: not empty, no leading "/" or
// "\", no backslash, no drive colon, no "." or ".." part, no NUL.
bool IsSafeEntryName(std::wstring_view name);
