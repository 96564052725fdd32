#pragma once
// AES-256 in CBC mode with PKCS#7 padding.
#include <string>
#include <string_view>

namespace plat {

// The plaintext without its padding; empty when the input is empty, the key is not 32 bytes, the
// vector not 16, the length not a multiple of 16 or the padding is bad.
std::string Aes256CbcDecrypt(std::string_view key, std::string_view iv, std::string_view data);
// The padded ciphertext (package makers, tests and benchmarks); empty on a bad key or vector.
std::string Aes256CbcEncrypt(std::string_view key, std::string_view iv, std::string_view data);

}  // namespace plat

namespace plat {

// HMAC-SHA-256 of data under key: the 32 raw bytes, empty when the hash fails.
std::string HmacSha256(std::string_view key, std::string_view data);

}  // namespace plat

#include <filesystem>

namespace plat {

// Whether `signature` (64 bytes) is an Ed25519 signature of the whole file under the public key
// (PEM text of an Ed25519 SubjectPublicKeyInfo). False for any other key type, a short or missing
// file, a key that does not parse, or a signature of another length.
bool Ed25519VerifyFile(std::string_view publicKeyPem, const std::filesystem::path& file, std::string_view signature);

}  // namespace plat
