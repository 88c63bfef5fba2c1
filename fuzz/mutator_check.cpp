// Checks the structure-aware kernel mutator outside libFuzzer: chained from
// each seed image as the fuzzer would chain it, its results must fit the
// size they were given, mostly load, and mostly hold valid instructions;
// else the harnesses would quietly fall back to shallow byte fuzzing.
//   kernel_mutator_check seed.kdsp...
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "base/byte_order.h"
#include "formats/kernel_image.h"
#include "kernel_mutator.h"
#include "vm/isa.h"

namespace {

std::minstd_rand byte_rng(1);

}  // namespace

// Stands in for libFuzzer's byte mutation: a few random bytes changed, and
// the length now and then moved within bounds.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size) {
  if (byte_rng() % 4 == 0 && max_size > 0) size = byte_rng() % (max_size + 1);
  for (int i = 0; i < 3 && size > 0; ++i) data[byte_rng() % size] = static_cast<std::uint8_t>(byte_rng());
  return size;
}

namespace kdsp {

namespace {

constexpr std::size_t MAX_SIZE = 4096;
constexpr int STEPS_PER_SEED = 10000;

struct Tally {
  std::uint64_t results = 0;
  std::uint64_t loadable = 0;
  std::uint64_t changed = 0;
  std::uint64_t words = 0;
  std::uint64_t valid_words = 0;
  std::uint64_t crossings = 0;
  std::uint64_t loadable_crossings = 0;
};

bool loadable(const std::vector<std::uint8_t>& image, std::size_t size, Tally& tally) {
  KernelHeader header{};
  if (check_kernel_file(image.data(), size, &header) != nullptr) return false;
  for (std::uint32_t i = 0; i < header.code_count; ++i) {
    ++tally.words;
    if (find_instruction(read_le32(image.data() + KERNEL_HEADER_SIZE + 4 * i)) != nullptr) ++tally.valid_words;
  }
  return true;
}

// Chains mutations from `seed`; false when a result breaks its size bound.
bool chain_from(const std::vector<std::uint8_t>& seed, const std::vector<std::uint8_t>& partner, Tally& tally,
                unsigned& mutation_seed) {
  std::vector<std::uint8_t> image(seed);
  std::size_t size = image.size();
  image.resize(MAX_SIZE);
  for (int step = 0; step < STEPS_PER_SEED; ++step) {
    const std::vector<std::uint8_t> before(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(size));
    // Now and then a tighter bound, as libFuzzer gives when it grows -max_len.
    const std::size_t max_size = step % 7 == 0 ? 48 + static_cast<std::size_t>(step % 200) : MAX_SIZE;
    const std::size_t bound = std::max(max_size, size);
    const std::size_t next = mutate_kernel_image(image.data(), size, bound, ++mutation_seed);
    if (next > bound) return false;
    size = next;
    ++tally.results;
    if (loadable(image, size, tally)) ++tally.loadable;
    if (size != before.size() || !std::equal(before.begin(), before.end(), image.begin())) ++tally.changed;
    if (size < 36) {  // restart from the seed, as the corpus would
      std::copy(seed.begin(), seed.end(), image.begin());
      size = seed.size();
    }
    if (step % 10 == 0) {
      std::vector<std::uint8_t> crossed(MAX_SIZE);
      const std::size_t crossed_size = cross_kernel_images(image.data(), size, partner.data(), partner.size(),
                                                           crossed.data(), MAX_SIZE, ++mutation_seed);
      if (crossed_size > MAX_SIZE) return false;
      ++tally.crossings;
      Tally unused;
      if (loadable(crossed, crossed_size, unused)) ++tally.loadable_crossings;
    }
  }
  return true;
}

double share(std::uint64_t part, std::uint64_t whole) { return whole == 0 ? 0.0 : double(part) / double(whole); }

}  // namespace

int run_check(int argc, char** argv) {
  std::vector<std::vector<std::uint8_t>> seeds;
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() <= MAX_SIZE) seeds.push_back(std::move(bytes));
  }
  if (seeds.empty()) {
    std::fprintf(stderr, "usage: kernel_mutator_check seed.kdsp...\n");
    return 2;
  }
  Tally tally;
  unsigned mutation_seed = 0;
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    if (!chain_from(seeds[i], seeds[(i + 1) % seeds.size()], tally, mutation_seed)) {
      std::fprintf(stderr, "kernel mutator: a result exceeded its size bound\n");
      return 1;
    }
  }
  const double loads = share(tally.loadable, tally.results);
  const double changes = share(tally.changed, tally.results);
  const double valid = share(tally.valid_words, tally.words);
  const double crossed = share(tally.loadable_crossings, tally.crossings);
  std::printf(
      "kernel mutator: %llu results, %.1f%% loadable, %.1f%% changed, %.1f%% valid words, "
      "%.1f%% loadable crossings\n",
      static_cast<unsigned long long>(tally.results), 100 * loads, 100 * changes, 100 * valid, 100 * crossed);
  const bool good = loads >= 0.80 && changes >= 0.80 && valid >= 0.60 && crossed >= 0.99;
  if (!good) std::fprintf(stderr, "kernel mutator: below its floor (80%% loadable and changed, 60%% valid words)\n");
  return good ? 0 : 1;
}

}  // namespace kdsp

int main(int argc, char** argv) { return kdsp::run_check(argc, argv); }
