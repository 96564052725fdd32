#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace plat {
namespace {

std::string Run(bool encrypt, std::string_view key, std::string_view iv, std::string_view data) {
  if (key.size() != 32 || iv.size() != 16) return {};
  if (!encrypt && (data.empty() || data.size() % 16 != 0)) return {};
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!ctx) return {};
  const auto* k = reinterpret_cast<const unsigned char*>(key.data());
  const auto* v = reinterpret_cast<const unsigned char*>(iv.data());
  if (EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1) return {};
  std::string out(data.size() + 16, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  int written = 0;
  // Lengths above INT_MAX are fed in slices.
  size_t done = 0;
  size_t total = 0;
  while (done < data.size()) {
    int slice = static_cast<int>(std::min<size_t>(data.size() - done, 1u << 30));
    if (EVP_CipherUpdate(ctx.get(), o + total, &written, reinterpret_cast<const unsigned char*>(data.data() + done), slice) != 1)
      return {};
    total += static_cast<size_t>(written);
    done += static_cast<size_t>(slice);
  }
  if (EVP_CipherFinal_ex(ctx.get(), o + total, &written) != 1) return {};
  total += static_cast<size_t>(written);
  out.resize(total);
  return out;
}

}  // namespace

std::string Aes256CbcDecrypt(std::string_view key, std::string_view iv, std::string_view data) {
  return Run(false, key, iv, data);
}
std::string Aes256CbcEncrypt(std::string_view key, std::string_view iv, std::string_view data) {
  return Run(true, key, iv, data);
}

std::string HmacSha256(std::string_view key, std::string_view data) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (key.size() > 0x7fffffff) return {};
  if (!HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
            data.size(), out, &length))
    return {};
  return std::string(reinterpret_cast<const char*>(out), length);
}

}  // namespace plat

namespace plat {

bool Ed25519VerifyFile(std::string_view publicKeyPem, const std::filesystem::path& file, std::string_view signature) {
  constexpr size_t kSignatureBytes = 64;
  if (signature.size() != kSignatureBytes || publicKeyPem.empty()) return false;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(publicKeyPem.data(), static_cast<int>(publicKeyPem.size())),
                                                BIO_free);
  if (!bio) return false;
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr),
                                                          EVP_PKEY_free);
  if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) return false;
  // The file is mapped, not read: a base package may be hundreds of megabytes.
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return false;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* data = nullptr;
  if (size > 0) {
    data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  bool good = false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  static const unsigned char kEmpty = 0;
  if (ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1)
    good = EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            data ? static_cast<const unsigned char*>(data) : &kEmpty, size) == 1;
  if (data) ::munmap(data, size);
  return good;
}

}  // namespace plat
