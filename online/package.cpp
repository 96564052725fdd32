#include "online/package.h"

#include <cstdint>

#include "base/text.h"
#include "platform/crypto.h"

namespace {

// The key and vector are assembled from 8-byte parts at every use rather than kept whole.
constexpr uint64_t kKeyParts[4] = {0x54A7E1C9035B8F26ULL, 0x9D13C6F04A2E7B58ULL, 0x2F8B5D19E6C0734AULL,
                                   0xB16E3A0D5C97F284ULL};
constexpr uint64_t kIvParts[2] = {0x3C5E7A9B1D2F4068ULL, 0x8A6C4E2019B3D5F7ULL};

void AppendPart(std::string& out, uint64_t part) {
  for (int i = 7; i >= 0; --i) out += static_cast<char>((part >> (i * 8)) & 0xFF);
}

uint32_t Read16(std::string_view s, size_t at) {
  return static_cast<uint8_t>(s[at]) | (static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8);
}
uint32_t Read32(std::string_view s, size_t at) { return Read16(s, at) | (Read16(s, at + 2) << 16); }

constexpr uint32_t kLocalHeader = 0x04034B50;

}  // namespace

std::string PackageKey() {
  std::string key;
  for (uint64_t p : kKeyParts) AppendPart(key, p);
  return key;
}
std::string PackageIv() {
  std::string iv;
  for (uint64_t p : kIvParts) AppendPart(iv, p);
  return iv;
}

std::string AesDecryptCbc(std::string_view data) {
  if (data.empty()) return {};
  return plat::Aes256CbcDecrypt(PackageKey(), PackageIv(), data);
}

bool ExtractStoredZip(std::string_view zip, std::vector<ZipEntry>& entries) {
  if (zip.size() < 4) return !entries.empty();
  size_t offset = 0;
  while (zip.size() - offset >= 4 && Read32(zip, offset) == kLocalHeader) {
    if (zip.size() - offset < 30) return false;
    uint32_t method = Read16(zip, offset + 8);
    uint64_t size = Read32(zip, offset + 18);
    uint64_t nameLen = Read16(zip, offset + 26);
    uint64_t extraLen = Read16(zip, offset + 28);
    uint64_t dataAt = offset + 30 + nameLen + extraLen;
    if (dataAt > zip.size()) return false;
    if (method != 0 || size > zip.size() - dataAt) return false;
    std::wstring name = Utf8ToWide(zip.substr(offset + 30, nameLen));
    while (!name.empty() && (name.back() == L'\0' || name.back() == L' ' || name.back() == L'\t' ||
                             name.back() == L'\r' || name.back() == L'\n'))
      name.pop_back();
    entries.push_back({std::move(name), std::string(zip.substr(dataAt, size))});
    offset = dataAt + size;
    if (zip.size() - offset < 4) return true;
  }
  return !entries.empty();
}

bool IsSafeEntryName(std::wstring_view name) {
  if (name.empty() || name.front() == L'/' || name.front() == L'\\') return false;
  if (name.find_first_of(L"\\:") != std::wstring_view::npos) return false;
  if (name.find(L'\0') != std::wstring_view::npos) return false;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t slash = name.find(L'/', pos);
    if (slash == std::wstring_view::npos) slash = name.size();
    std::wstring_view part = name.substr(pos, slash - pos);
    if (part.empty() || part == L"." || part == L"..") return false;
    pos = slash + 1;
  }
  return true;
}
