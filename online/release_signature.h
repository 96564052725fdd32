#pragma once
// Signed releases: a program update and a base package are installed only when the detached
// Ed25519 signature beside them on the board (the file's name + ".sig") verifies against the
// maker's public key built into the program.
#include <filesystem>
#include <string>
#include <string_view>

enum class ReleaseSignature {
  kGood,     // signed with the maker's key
  kMissing,  // no signature came (no link, no answer, or not a signature's 64 bytes)
  kWrong,    // a signature that does not verify: another key, or a changed file
};

// Checks the file against a signature's bytes.
ReleaseSignature CheckReleaseSignature(const std::filesystem::path& file, std::string_view signature);

// Downloads the signature at `path` on the web board with the given header lines and checks the
// file against it. Logs the outcome with `logPrefix`.
ReleaseSignature FetchAndCheckReleaseSignature(const std::filesystem::path& file, std::wstring_view path,
                                               std::wstring_view headers, std::wstring_view logPrefix);

// What the log says of a refused signature.
std::wstring_view ReleaseSignatureWord(ReleaseSignature s);

// Tests sign their releases with a key of their own: its public key (PEM) replaces the built-in one
// for this process. An empty text restores the built-in key.
void SetReleaseKeyForTests(std::string publicKeyPem);
