// SPDX-License-Identifier: MIT
// Runs a fuzz target without libFuzzer: every file of the folders or files
// given, then a fixed number of deterministic mutations of each. Prints the
// count and exits 0; a broken promise stops the program.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

constexpr int kMutationsPerSeed = 4000;
// Characters that date texts and entity references are made of.
constexpr char kAlphabet[] = "0123456789-+:.,TtZz WSTECGMJanFebx#&;$\\\xA0\xC2\xFF";

class Xorshift {
 public:
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  size_t Below(size_t bound) { return bound == 0 ? 0 : Next() % bound; }

 private:
  uint32_t state_ = 2463534242u;
};

std::string Mutate(std::string text, Xorshift& random) {
  const char inserted = kAlphabet[random.Below(sizeof kAlphabet - 1)];
  const size_t at = random.Below(text.size() + 1);
  switch (random.Below(5)) {
    case 0: text.insert(at, 1, inserted); break;
    case 1: if (at < text.size()) text.erase(at, 1 + random.Below(3)); break;
    case 2: if (at < text.size()) text[at] = inserted; break;
    case 3: text.resize(at); break;
    default: text.insert(at, text.substr(random.Below(text.size() + 1), 1 + random.Below(8))); break;
  }
  return text;
}

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

std::vector<std::string> Seeds(int argc, char** argv) {
  std::vector<std::string> seeds;
  for (int i = 1; i < argc; ++i) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i])) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const auto& file : files) {
      std::ifstream stream(file, std::ios::binary);
      std::stringstream content;
      content << stream.rdbuf();
      seeds.push_back(content.str());
    }
  }
  return seeds;
}

}  // namespace

int main(int argc, char** argv) {
  Xorshift random;
  long runs = 0;
  for (const std::string& seed : Seeds(argc, argv)) {
    Run(seed);
    std::string text = seed;
    for (int i = 0; i < kMutationsPerSeed; ++i, ++runs) {
      text = random.Below(4) == 0 ? Mutate(seed, random) : Mutate(text, random);
      Run(text);
    }
  }
  std::printf("%ld inputs ran\n", runs);
  return 0;
}
