#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/temp_root.h"
#include "platform/files.h"
#include "ui/data_urls.h"
#include "ui/page_assets.h"

namespace {

// A second encoder written another way: the bytes as a bit string, cut into groups of six.
std::wstring BitwiseBase64(const std::vector<uint8_t>& bytes) {
  const std::wstring alphabet = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bits;
  for (uint8_t b : bytes)
    for (int i = 7; i >= 0; --i) bits += ((b >> i) & 1) ? '1' : '0';
  while (bits.size() % 6) bits += '0';
  std::wstring out;
  for (size_t i = 0; i < bits.size(); i += 6) out += alphabet[std::stoi(bits.substr(i, 6), nullptr, 2)];
  while (out.size() % 4) out += L'=';
  return out;
}

}  // namespace

TEST(Base64, KnownVectors) {
  const struct {
    std::string in;
    std::wstring out;
  } cases[] = {{"", L""},           {"f", L"Zg=="},         {"fo", L"Zm8="},        {"foo", L"Zm9v"},
               {"foob", L"Zm9vYg=="}, {"fooba", L"Zm9vYmE="}, {"foobar", L"Zm9vYmFy"},
               {std::string("\xff\xfe\x00", 3), L"//4A"}};
  for (const auto& c : cases) {
    EXPECT_EQ(Base64Encode(c.in), c.out) << c.in;
    EXPECT_EQ(Base64Encode(std::vector<uint8_t>(c.in.begin(), c.in.end())), c.out) << c.in;
  }
}

TEST(Base64, RandomBytesMatchAnIndependentEncoder) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes(rng() % 300);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(Base64Encode(bytes), BitwiseBase64(bytes)) << "size " << bytes.size();
  }
}

TEST(DataUrls, MediaTypesByExtension) {
  const struct {
    std::wstring name, image, font;
  } cases[] = {
      {L"a.PNG", L"image/png", L"font/ttf"},       {L"a.JPEG", L"image/jpeg", L"font/ttf"},
      {L"noext", L"image/jpeg", L"font/ttf"},      {L"x.webp", L"image/webp", L"font/ttf"},
      {L"x.Gif", L"image/gif", L"font/ttf"},       {L"x.bmp", L"image/bmp", L"font/ttf"},
      {L"f.OTF", L"image/jpeg", L"font/otf"},      {L"f.woff", L"image/jpeg", L"font/woff"},
      {L"f.woff2", L"image/jpeg", L"font/woff2"},  {L"f.TTC", L"image/jpeg", L"font/ttf"},
      {L"dir.png/file", L"image/jpeg", L"font/ttf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ImageMimeFromExt(c.name), c.image) << c.name;
    EXPECT_EQ(FontMimeFromExt(c.name), c.font) << c.name;
  }
}

TEST(DataUrls, FilesBecomeDataAddressesOrNothing) {
  TempRoot root;
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "images" / "a.png", "abc"));
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "images" / "empty.jpg", ""));
  ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "fonts" / "My Font.otf", "xy"));
  EXPECT_EQ(MakeDataUrl(L"C:/tavelo/images/a.png"), L"data:image/png;base64,YWJj");
  EXPECT_EQ(MakeDataUrl(L"C:/tavelo/images/empty.jpg"), L"");
  EXPECT_EQ(MakeDataUrl(L"C:/tavelo/images/missing.jpg"), L"");
  EXPECT_EQ(MakeFontDataUrl(L"My Font.otf"), L"data:font/otf;base64,eHk=");
  // Names from the page stay inside the fonts folder.
  for (const wchar_t* bad : {L"../images/a.png", L"..", L"", L"sub/x.ttf"}) EXPECT_EQ(MakeFontDataUrl(bad), L"") << bad;
  EXPECT_TRUE(ReadFileBytes(L"C:/tavelo/images/empty.jpg").empty());
}

TEST(DataUrls, FontListKeepsFontFilesOnly) {
  TempRoot root;
  for (const char* name : {"a.TTF", "b.otf", "c.ttc", "d.woff", "e.woff2", "notes.txt", "noext", "it's.ttf"})
    ASSERT_TRUE(plat::WriteFileAtomic(root.path() / "fonts" / name, "x"));
  std::filesystem::create_directories(root.path() / "fonts" / "dir.ttf");
  const std::wstring list = ListFontFiles();
  for (const wchar_t* kept : {L"'a.TTF'", L"'b.otf'", L"'c.ttc'", L"'d.woff'", L"'e.woff2'", L"'it\\'s.ttf'"})
    EXPECT_NE(list.find(kept), std::wstring::npos) << kept;
  for (const wchar_t* dropped : {L"notes", L"noext", L"dir.ttf"}) EXPECT_EQ(list.find(dropped), std::wstring::npos);
  EXPECT_EQ(list.front(), L'[');
  EXPECT_EQ(list.back(), L']');
}

TEST(DataUrls, FontListOfAMissingFolderIsEmptyAndMakesIt) {
  TempRoot root;
  EXPECT_EQ(ListFontFiles(), L"[]");
  EXPECT_TRUE(std::filesystem::is_directory(root.path() / "fonts"));
}
