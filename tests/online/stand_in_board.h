#pragma once
// The stand-in web board for the online tests: tests/online/board/server.py on 127.0.0.1 with a
// self-signed certificate made here, serving a board.json the test writes. Started by the test,
// stopped when the object goes away. TAVELO_WEB_BASE and TAVELO_WEB_CA point the program at it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_paths.h"
#include "platform/process.h"

namespace fs = std::filesystem;

// A ZIP archive of stored entries with a central directory (what the package maker writes).
// `method` other than 0 marks an entry as compressed.
struct TestZipEntry {
  std::string name;
  std::string data;
  uint16_t method = 0;
};

inline void PutLe(std::string& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline std::string MakeZip(const std::vector<TestZipEntry>& entries) {
  std::string out, central;
  for (const auto& e : entries) {
    size_t offset = out.size();
    PutLe(out, 0x04034B50, 4);
    PutLe(out, 20, 2);
    PutLe(out, 0, 2);
    PutLe(out, e.method, 2);
    PutLe(out, 0, 4);  // time, date
    PutLe(out, 0, 4);  // crc (not checked)
    PutLe(out, e.data.size(), 4);
    PutLe(out, e.data.size(), 4);
    PutLe(out, e.name.size(), 2);
    PutLe(out, 0, 2);
    out += e.name;
    out += e.data;
    PutLe(central, 0x02014B50, 4);
    central += std::string(24, '\0');
    PutLe(central, e.name.size(), 2);
    central += std::string(12, '\0');
    PutLe(central, offset, 4);
    central += e.name;
  }
  size_t cdAt = out.size();
  out += central;
  PutLe(out, 0x06054B50, 4);
  out += std::string(6, '\0');
  PutLe(out, entries.size(), 2);
  PutLe(out, central.size(), 4);
  PutLe(out, cdAt, 4);
  PutLe(out, 0, 2);
  return out;
}

struct BoardPost {
  int id;
  std::string date;    // empty: the list shows a time instead of a date
  std::string answer;  // "file", "html", "cut", "nolength"
  std::string package; // bytes served as the attachment
  std::string shownName = {};  // the attachment's name on the post page (default: the stored file's)
  std::string content = {};    // the post's text (HTML) in its content element
  std::string signature = {};  // bytes of a second attachment "<shown name>.sig"; none when empty
};

class StandInBoard {
 public:
  explicit StandInBoard(const std::vector<BoardPost>& posts, bool form = true, int pageSize = 3) {
    std::random_device rd;
    dir_ = fs::temp_directory_path() / ("tavelo_board_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    fs::create_directories(dir_ / "dataroom");
    std::string d = dir_.string();
    int rc = std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout '" + d + "/key.pem' -out '" + d +
                          "/cert.pem' -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1")
                             .c_str());
    EXPECT_EQ(rc, 0) << "openssl could not make the test certificate";
    SetPosts(posts, form, pageSize);
    rc = std::system(("python3 '" TAVELO_SOURCE_DIR "/tests/online/board/server.py' '" + d + "' >/dev/null 2>&1 & echo $! > '" +
                      d + "/pid'")
                         .c_str());
    EXPECT_EQ(rc, 0);
    // Wait for the server to bind (it writes its port once it listens).
    for (int i = 0; i < 300 && !fs::exists(dir_ / "port"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port_ = Read("port");
    EXPECT_FALSE(port_.empty()) << "the stand-in board did not start";
    plat::SetEnvironmentVariable("TAVELO_WEB_BASE", "127.0.0.1:" + port_);
    plat::SetEnvironmentVariable("TAVELO_WEB_CA", (dir_ / "cert.pem").string());
  }
  ~StandInBoard() {
    std::string pid = Read("pid");
    while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
    if (!pid.empty()) std::system(("kill " + pid + " 2>/dev/null").c_str());
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  void SetPosts(const std::vector<BoardPost>& posts, bool form = true, int pageSize = 3,
                const std::string& board = "tavelo_download_6") {
    std::ostringstream json;
    json << "{\"form\": " << (form ? "true" : "false") << ", \"pageSize\": " << pageSize << ", \"board\": \""
         << board << "\", \"posts\": [";
    for (size_t i = 0; i < posts.size(); ++i) {
      const auto& p = posts[i];
      std::string file = "post_" + std::to_string(p.id) + ".bin";
      std::ofstream(dir_ / file, std::ios::binary) << p.package;
      const std::string sig = p.signature.empty() ? "" : "post_" + std::to_string(p.id) + ".sig";
      if (!sig.empty()) std::ofstream(dir_ / sig, std::ios::binary) << p.signature;
      json << (i ? "," : "") << "{\"id\": " << p.id << ", \"date\": "
           << (p.date.empty() ? std::string("null") : "\"" + p.date + "\"") << ", \"title\": \"post " << p.id
           << "\", \"file\": \"" << file << "\", \"answer\": \"" << (p.answer.empty() ? "file" : p.answer)
           << "\", \"shown\": \"" << (p.shownName.empty() ? file : p.shownName) << "\", \"content\": \"" << p.content
           << "\", \"sig\": \"" << sig << "\"}";
    }
    json << "]}";
    std::ofstream(dir_ / "board.json.tmp") << json.str();
    fs::rename(dir_ / "board.json.tmp", dir_ / "board.json");
  }
  void SetDataRoomFile(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / "dataroom" / name, std::ios::binary) << bytes;
  }
  void RemoveDataRoomFile(const std::string& name) {
    std::error_code ec;
    fs::remove(dir_ / "dataroom" / name, ec);
  }
  // The request lines the server saw ("GET /bbs/..."), in order.
  std::vector<std::string> Requests() const {
    std::vector<std::string> out;
    std::ifstream in(dir_ / "requests.log");
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  void ClearRequests() {
    std::error_code ec;
    fs::remove(dir_ / "requests.log", ec);
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string Host() const { return "127.0.0.1:" + port_; }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
  std::string port_;
};
