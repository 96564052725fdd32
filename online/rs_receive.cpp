#include "online/rs_receive.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "base/text.h"
#include "online/rs_state.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

// The one file being received. The bytes go to a side file that replaces the named one only when
// complete, so a failed transfer never costs an older file of the same name.
struct FileReceiveState {
  std::ofstream out;
  std::wstring name;
  fs::path part;
  uint64_t expected = 0;
  uint64_t received = 0;
};
FileReceiveState fileState;

fs::path ReceivePath(const std::wstring& name) { return plat::RealPath(std::wstring(kRsReceiveFolder) + name); }

// Closes the open file; the side file is kept as the named file only when keep is set.
void AbortFileReceive(bool keep) {
  bool open = fileState.out.is_open();
  if (open) fileState.out.close();
  std::error_code ec;
  if (open && !fileState.name.empty()) {
    if (keep)
      fs::rename(fileState.part, ReceivePath(fileState.name), ec);
    else
      fs::remove(fileState.part, ec);
  }
  fileState.name.clear();
  fileState.part.clear();
  fileState.expected = 0;
  fileState.received = 0;
}

void Ack(RsConnection& c, uint8_t status, uint64_t count) {
  std::string p = BuildFileAckPayload(status, count);
  SendRsFrame(c, RsMessageType::FileAck, p.data(), p.size());
}

void BeginFile(RsConnection& c, const std::string& payload) {
  AbortFileReceive(false);
  std::optional<FileBeginMessage> begin = ParseFileBegin(payload);
  std::wstring name = begin ? SanitizeReceivedFileName(begin->name) : std::wstring();
  if (name.empty()) {
    RsLog(L"[RS] 파일 받기 거절 - 이름이나 크기가 이상합니다");
    Ack(c, 2, 0);
    return;
  }
  fs::path target = ReceivePath(name);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  fs::path part = target;
  part += ".part";
  fileState.out.open(part, std::ios::binary | std::ios::trunc);
  if (!fileState.out.is_open()) {
    RsLog(L"[RS] 파일 받기 실패 - 저장할 파일을 못 만듭니다: " + std::wstring(kRsReceiveFolder) + name);
    Ack(c, 2, 0);
    return;
  }
  fileState.name = name;
  fileState.part = part;
  fileState.expected = begin->size;
  fileState.received = 0;
  RsLog(L"[RS] 파일 받기 시작: " + name + L" (" + std::to_wstring(begin->size) + L"바이트)");
  Ack(c, 0, 0);
}

void AppendFile(RsConnection& c, const std::string& payload) {
  if (!fileState.out.is_open()) return;
  if (payload.empty()) {
    Ack(c, 0, fileState.received);
    return;
  }
  fileState.out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
  if (!fileState.out) {
    RsLog(L"[RS] 파일 받기 실패 - 쓰다가 오류(디스크 여유 확인)");
    AbortFileReceive(false);
    Ack(c, 2, 0);
    return;
  }
  fileState.received += payload.size();
  if (fileState.received <= kRsMaxFileSize) {
    Ack(c, 0, fileState.received);
  } else {
    AbortFileReceive(false);
    Ack(c, 2, 0);
  }
}

void FinishFile(RsConnection& c, const std::function<void(const std::wstring&)>& notify) {
  if (!fileState.out.is_open()) {
    Ack(c, 2, fileState.received);
    return;
  }
  uint64_t received = fileState.received;
  uint64_t expected = fileState.expected;
  std::wstring name = fileState.name;
  bool complete = expected == 0 || expected == received;
  fileState.out.flush();
  if (!fileState.out) complete = false;
  AbortFileReceive(complete);
  if (complete) {
    RsLog(L"[RS] 파일 받기 완료: " + name + L" -> " + std::wstring(kRsReceiveFolder) + L" (" +
          std::to_wstring(received) + L"바이트)");
    fileState.received = received;
    Ack(c, 1, received);
    if (notify) notify(L"파일을 받았습니다 - " + name + L"  (" + plat::ShownPath(kRsReceiveFolder) + L" 폴더)");
  } else {
    RsLog(L"[RS] 파일 받기 실패 - 크기가 안 맞습니다(" + std::to_wstring(received) + L"/" + std::to_wstring(expected) +
          L")");
    Ack(c, 2, 0);
  }
}

}  // namespace

std::wstring SanitizeReceivedFileName(std::wstring_view name) {
  size_t cut = name.find_last_of(L"/\\:");
  if (cut != std::wstring_view::npos) name = name.substr(cut + 1);
  std::wstring out;
  for (wchar_t ch : name)
    if (ch >= 0x20 && std::wstring_view(L"\"*<>?|").find(ch) == std::wstring_view::npos) out.push_back(ch);
  while (!out.empty() && (out.back() == L' ' || out.back() == L'.')) out.pop_back();
  size_t lead = out.find_first_not_of(L' ');
  out.erase(0, lead == std::wstring::npos ? out.size() : lead);
  if (out == L"." || out == L".." || out.size() > 180) return {};
  return out;
}

void RsReceiveLoop(RsConnection& connection, const std::function<void(const std::wstring&)>& notify) {
  while (!RsClient.SessionStopFlag.load()) {
    std::optional<RsFrame> frame = RecvFrame(connection.socket);
    if (!frame) break;
    const std::string& p = frame->payload;
    bool end = false;
    switch (static_cast<RsMessageType>(frame->type)) {
      case RsMessageType::Mouse:
        if (auto m = ParseRemoteMouseEvent(p)) InjectRemoteMouse(*m);
        break;
      case RsMessageType::Key:
        if (auto k = ParseRemoteKeyEvent(p)) InjectRemoteKey(*k);
        break;
      case RsMessageType::End:
        RsLog(L"[RS] 뷰어가 지원을 종료했습니다");
        RsClient.ViewerEndedFlag.store(1);
        end = true;
        break;
      case RsMessageType::Ping:
        SendRsFrame(connection, RsMessageType::Pong, nullptr, 0);
        break;
      case RsMessageType::Settings:
        if (auto s = ParseRsSettings(p)) {
          if (s->quality >= 20 && s->quality <= 95) RsClient.SupportConfig.quality.store(s->quality);
          if (s->framesPerSecond >= 1 && s->framesPerSecond <= 15)
            RsClient.SupportConfig.framesPerSecond.store(s->framesPerSecond);
        }
        break;
      case RsMessageType::FileBegin:
        BeginFile(connection, p);
        break;
      case RsMessageType::FileData:
        AppendFile(connection, p);
        break;
      case RsMessageType::FileEnd:
        FinishFile(connection, notify);
        break;
      case RsMessageType::FileCancel:
        RsLog(L"[RS] 파일 받기 취소됨");
        AbortFileReceive(false);
        break;
      default:
        break;
    }
    if (end) break;
  }
  ReleaseRemoteInput();
  AbortFileReceive(false);
  RsClient.SessionStopFlag.store(1);
}
