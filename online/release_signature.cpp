#include "online/release_signature.h"

#include <mutex>

#include "base/debug_log.h"
#include "online/https.h"
#include "platform/crypto.h"
#include "release_key.h"

namespace {

// An Ed25519 signature is exactly this long; any other answer is not a signature.
constexpr size_t kSignatureBytes = 64;

std::mutex keyLock;
std::string testKey;  // empty: the built-in key

std::string ReleaseKey() {
  std::lock_guard lock(keyLock);
  return testKey.empty() ? std::string(kReleasePublicKeyPem) : testKey;
}

}  // namespace

ReleaseSignature CheckReleaseSignature(const std::filesystem::path& file, std::string_view signature) {
  if (signature.size() != kSignatureBytes) return ReleaseSignature::kMissing;
  return plat::Ed25519VerifyFile(ReleaseKey(), file, signature) ? ReleaseSignature::kGood : ReleaseSignature::kWrong;
}

ReleaseSignature FetchAndCheckReleaseSignature(const std::filesystem::path& file, std::wstring_view path,
                                               std::wstring_view headers, std::wstring_view logPrefix) {
  HttpResult r = HttpsRequest(WebHost(), path, L"GET", headers, {}, {});
  const std::string_view signature = r.completed ? std::string_view(r.body) : std::string_view();
  const ReleaseSignature result = CheckReleaseSignature(file, signature);
  DebugLog(std::wstring(logPrefix) + L" 서명 확인 " + std::wstring(ReleaseSignatureWord(result)) + L" (받은 서명 " +
           std::to_wstring(r.completed ? r.body.size() : 0) + L"바이트)");
  return result;
}

std::wstring_view ReleaseSignatureWord(ReleaseSignature s) {
  switch (s) {
    case ReleaseSignature::kGood:
      return L"통과";
    case ReleaseSignature::kMissing:
      return L"실패 - 서명 없음";
    case ReleaseSignature::kWrong:
      return L"실패 - 서명 불일치";
  }
  return L"";
}

void SetReleaseKeyForTests(std::string publicKeyPem) {
  std::lock_guard lock(keyLock);
  testKey = std::move(publicKeyPem);
}
