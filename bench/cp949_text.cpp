// Decodes the same size of ASCII, valid code page 949 and invalid code page 949 text and prints
// the time of each; invalid text should cost about what valid text costs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/codepage.h"

namespace {

double BestSeconds(const std::string& bytes, int runs) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i) {
    const double t0 = plat::NowMs();
    const std::wstring w = plat::AnsiToWide(bytes);
    best = std::min(best, (plat::NowMs() - t0) / 1000);
    if (w.empty()) std::abort();
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  const size_t size = mb << 20;
  std::string ascii(size, 'a');
  std::string valid, invalid;
  while (valid.size() < size) valid += "\xB3\xEB\xB7\xA1 ";
  // Every other byte starts no character (0xFF), the rest are ASCII or lone lead bytes.
  while (invalid.size() < size) invalid += "\xFF" "a\xB3 \x80";
  valid.resize(size);
  invalid.resize(size);
  const double a = BestSeconds(ascii, 3), v = BestSeconds(valid, 3), bad = BestSeconds(invalid, 3);
  std::printf("%zu MB: ASCII %.3f s, valid CP949 %.3f s, invalid CP949 %.3f s (%.2fx ASCII)\n", mb, a, v, bad,
              bad / a);
  return 0;
}
