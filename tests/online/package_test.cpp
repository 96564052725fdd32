#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

#include "base/text.h"
#include "online/package.h"
#include "platform/crypto.h"
#include "stand_in_board.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// The plaintext encrypted by the openssl command line with the package key and vector.
std::string OpensslEncrypt(const std::string& plain, const std::string& key) {
  fs::path dir = fs::temp_directory_path() / ("tavelo_aes_" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  std::ofstream(dir / "in", std::ios::binary) << plain;
  std::string cmd = "openssl enc -aes-256-cbc -K " + Hex(key) + " -iv " + Hex(PackageIv()) + " -in '" +
                    (dir / "in").string() + "' -out '" + (dir / "out").string() + "'";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::ifstream in(dir / "out", std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  fs::remove_all(dir);
  return s.str();
}

std::vector<std::wstring> Names(const std::vector<ZipEntry>& entries) {
  std::vector<std::wstring> out;
  for (const auto& e : entries) out.push_back(e.name);
  return out;
}

}  // namespace

TEST(AesDecryptCbc, DecryptsWhatOpensslEncryptedAndRefusesTheRest) {
  std::string plain = "PK\3\4 package bytes 한글 " + std::string(1000, 'q');
  std::string good = OpensslEncrypt(plain, PackageKey());
  std::string wrongKey = OpensslEncrypt(plain, std::string(32, 'k'));
  struct Case {
    std::string name;
    std::string input;
    std::string want;
  } cases[] = {
      {"good", good, plain},
      {"wrong key", wrongKey, ""},
      {"length not a multiple of 16", good.substr(0, good.size() - 3), ""},
      {"empty", "", ""},
      {"one block", good.substr(0, 16), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(AesDecryptCbc(c.input), c.want) << c.name;
  EXPECT_EQ(plat::Aes256CbcEncrypt(PackageKey(), PackageIv(), plain), good);
  EXPECT_EQ(plat::Aes256CbcDecrypt("short", PackageIv(), good), "");
}

TEST(ExtractStoredZip, WalksStoredEntries) {
  std::string twoStored = MakeZip({{"P0012.MID", "MThd..."}, {std::string("sub/P0012.txt  \0", 16), std::string("text")}});
  std::string secondDeflated = MakeZip({{"a.mid", "1"}, {"b.mid", "2", 8}});
  // A streamed entry: size 0 in the local header, its data after it, then a data descriptor.
  std::string streamed = twoStored.substr(0, 0);
  PutLe(streamed, 0x04034B50, 4);
  streamed += std::string(22, '\0');
  PutLe(streamed, 5, 2);
  PutLe(streamed, 0, 2);
  streamed += "x.mid" + std::string("DATA!") + std::string(16, '\0');
  struct Case {
    std::string name;
    std::string zip;
    bool ok;
    std::vector<std::wstring> names;
  } cases[] = {
      {"two stored", twoStored, true, {L"P0012.MID", L"sub/P0012.txt"}},
      {"second deflated", secondDeflated, false, {L"a.mid"}},
      {"streamed", streamed, true, {L"x.mid"}},
      {"not a zip", "hello world", false, {}},
      {"short", "PK", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<ZipEntry> entries;
    EXPECT_EQ(ExtractStoredZip(c.zip, entries), c.ok) << c.name;
    EXPECT_EQ(Names(entries), c.names) << c.name;
  }
  std::vector<ZipEntry> entries;
  ExtractStoredZip(twoStored, entries);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].data, "MThd...");
  EXPECT_EQ(entries[1].data, "text");
}

TEST(ExtractStoredZip, EveryCutPointIsSafe) {
  std::string zip = MakeZip({{"P0001.MID", std::string(300, 'm')}, {"songs.csv", "id,title\n1,a\n"}});
  for (size_t cut = 0; cut <= zip.size(); ++cut) {
    std::vector<ZipEntry> entries;
    ExtractStoredZip(std::string_view(zip).substr(0, cut), entries);  // under ASan: no read past the end
    for (const auto& e : entries) EXPECT_LE(e.data.size(), cut);
  }
}

TEST(IsSafeEntryName, RefusesNamesThatLeaveTheFolder) {
  struct Case {
    const wchar_t* name;
    bool safe;
  } cases[] = {
      {L"P0012.MID", true}, {L"sub/P1.txt", true}, {L"../x.mid", false}, {L"..\\x.mid", false},
      {L"C:x.mid", false},  {L"/x", false},        {L"a/../../x", false}, {L"", false},
      {L"a//b", false},     {L"./a", false},       {L"a\\b", false},      {L"..", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << WideToUtf8(c.name);
}
