#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "base/file_read.h"
#include "base/memory.h"
#include "base/result_code.h"
#include "formats/iq_capture.h"
#include "formats/kernel_image.h"
#include "support/kernel_words.h"
#include "support/test_files.h"

namespace kdsp {

namespace {

ResultCode load_kernel_bytes(const ScratchDir& dir, const Bytes& bytes, KernelImage* image) {
  write_file(dir.file("k.kdsp"), bytes);
  return load_kernel_image(dir.file("k.kdsp").c_str(), image);
}

ResultCode kernel_verdict(const Bytes& bytes) {
  ScratchDir dir;
  KernelImage image{};
  const ResultCode result = load_kernel_bytes(dir, bytes, &image);
  if (result == ResultCode::OK) {
    release_kernel_image(&image);
  } else {
    EXPECT_EQ(image.code, nullptr);
    EXPECT_EQ(image.memory, nullptr);
  }
  return result;
}

ResultCode capture_verdict(const Bytes& bytes, std::uint64_t* pair_count = nullptr) {
  ScratchDir dir;
  write_file(dir.file("c.iq"), bytes);
  IqCapture capture{};
  const ResultCode result = load_iq_capture(dir.file("c.iq").c_str(), &capture);
  if (result == ResultCode::OK) {
    if (pair_count != nullptr) *pair_count = capture.pair_count;
    release_iq_capture(&capture);
  } else {
    EXPECT_EQ(capture.samples, nullptr);
  }
  return result;
}

Bytes with_byte(Bytes bytes, std::size_t offset, std::uint8_t value) {
  bytes[offset] = value;
  return bytes;
}

}  // namespace

TEST(ReadWholeFile, ReadsRegularFilesAndRefusesEverythingElse) {
  ScratchDir dir;
  std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(1);
  std::uint64_t length = 99;

  write_file(dir.file("empty"), {});
  ASSERT_EQ(read_whole_file(dir.file("empty").c_str(), &bytes, &length, 100), 0);
  EXPECT_EQ(bytes, nullptr);
  EXPECT_EQ(length, 0u);

  write_file(dir.file("three"), {1, 2, 3});
  ASSERT_EQ(read_whole_file(dir.file("three").c_str(), &bytes, &length, 3), 0);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(bytes[2], 3);
  mem_release(bytes);

  // Each refusal leaves both out-parameters as they were.
  bytes = reinterpret_cast<std::uint8_t*>(1);
  length = 99;
  EXPECT_EQ(read_whole_file(dir.file("three").c_str(), &bytes, &length, 2), -1);  // too long
  EXPECT_EQ(read_whole_file(dir.file("missing").c_str(), &bytes, &length, 100), -1);
  EXPECT_EQ(read_whole_file(dir.path().c_str(), &bytes, &length, 100), -1);  // a directory
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_EQ(read_whole_file(dir.file("fifo").c_str(), &bytes, &length, 100), -1);  // must not block
  EXPECT_EQ(read_whole_file("/dev/zero", &bytes, &length, 100), -1);
  EXPECT_EQ(bytes, reinterpret_cast<std::uint8_t*>(1));
  EXPECT_EQ(length, 99u);

  mem_fail_request(1);
  EXPECT_EQ(read_whole_file(dir.file("three").c_str(), &bytes, &length, 3), -1);
  mem_fail_request(0);
}

TEST(KernelLoader, AcceptsValidImagesAndCopiesWordsAndData) {
  ScratchDir dir;
  KernelImage image{};
  ASSERT_EQ(load_kernel_bytes(dir, kernel_file({0xFF000000u}), &image), ResultCode::OK);
  EXPECT_EQ(image.code_count, 1u);
  EXPECT_EQ(image.code[0], 0xFF000000u);
  EXPECT_EQ(image.entry, 0u);
  EXPECT_EQ(image.data_size, 0u);
  release_kernel_image(&image);

  ASSERT_EQ(load_kernel_bytes(dir, kernel_file({0x01200001u, 0x12345678u, 0xFF000000u}, {9, 8, 7}, 2), &image),
            ResultCode::OK);
  EXPECT_EQ(image.code[1], 0x12345678u);
  EXPECT_EQ(image.entry, 2u);
  EXPECT_EQ(image.memory[0], 9);
  EXPECT_EQ(image.memory[2], 7);
  EXPECT_EQ(image.memory[3], 0);
  EXPECT_EQ(image.data_size, 3u);  // the trailing zeros of memory are not data
  EXPECT_EQ(image.memory[DATA_MEMORY_SIZE - 1], 0);
  release_kernel_image(&image);

  EXPECT_EQ(kernel_verdict(kernel_file(std::vector<std::uint32_t>(4096, 0))), ResultCode::OK);
  Bytes full_data(DATA_MEMORY_SIZE, 0x5A);
  ASSERT_EQ(load_kernel_bytes(dir, kernel_file({0}, full_data), &image), ResultCode::OK);
  EXPECT_EQ(image.memory[DATA_MEMORY_SIZE - 1], 0x5A);
  EXPECT_EQ(image.data_size, DATA_MEMORY_SIZE);
  release_kernel_image(&image);
}

TEST(KernelLoader, RefusesEveryMalformedHeader) {
  const Bytes good = kernel_file({0xFF000000u});
  Bytes reversed_magic = good;
  std::memcpy(reversed_magic.data(), "PSDK", 4);
  Bytes data_too_big = kernel_file({0});
  data_too_big[12] = 0x01;
  data_too_big[14] = 0x10;  // 0x00100001

  const std::vector<Bytes> bad = {
      {},
      Bytes(good.begin(), good.begin() + 31),
      reversed_magic,
      with_byte(good, 4, 2),   // version 2
      with_byte(good, 6, 33),  // header size 33
      kernel_file({}),         // code_count 0
      kernel_file(std::vector<std::uint32_t>(4097, 0)),
      data_too_big,
      kernel_file({0, 0}, {}, 2),  // entry == code_count
      with_byte(good, 20, 1),
      with_byte(good, 24, 1),
      with_byte(good, 28, 1),
      with_byte(good, 31, 0x80),
      Bytes(good.begin(), good.end() - 1),  // one byte missing
  };
  for (std::size_t i = 0; i < bad.size(); ++i)
    EXPECT_EQ(kernel_verdict(bad[i]), ResultCode::BAD_KERNEL) << "case " << i;

  Bytes trailing = good;
  trailing.push_back(0);
  EXPECT_EQ(kernel_verdict(trailing), ResultCode::BAD_KERNEL);
  // A huge code_count with a short file must not overflow the length check.
  Bytes huge_count = good;
  huge_count[8] = huge_count[9] = huge_count[10] = huge_count[11] = 0xFF;
  EXPECT_EQ(kernel_verdict(huge_count), ResultCode::BAD_KERNEL);

  KernelImage image{};
  EXPECT_EQ(load_kernel_image("/nonexistent/k.kdsp", &image), ResultCode::BAD_KERNEL);
}

TEST(KernelLoader, RunningOutOfMemoryIsAnIoErrorWithNothingKept) {
  ScratchDir dir;
  write_file(dir.file("k.kdsp"), kernel_file({0xFF000000u}));
  // Request 1 is the file buffer (an unreadable file: BAD_KERNEL); 2 and 3
  // are the code and memory blocks.
  const ResultCode expected[] = {ResultCode::BAD_KERNEL, ResultCode::IO_ERROR, ResultCode::IO_ERROR};
  for (int k = 1; k <= 3; ++k) {
    KernelImage image{};
    mem_fail_request(static_cast<std::uint64_t>(k));
    EXPECT_EQ(load_kernel_image(dir.file("k.kdsp").c_str(), &image), expected[k - 1]) << k;
    mem_fail_request(0);
    EXPECT_EQ(image.code, nullptr);
    EXPECT_EQ(image.memory, nullptr);
  }
}

TEST(CaptureLoader, AcceptsWholePairsOfFiniteValues) {
  std::uint64_t pairs = 0;
  EXPECT_EQ(capture_verdict(capture_file({0.0f, 0.0f}), &pairs), ResultCode::OK);
  EXPECT_EQ(pairs, 1u);
  const float extremes[] = {-0.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max()};
  EXPECT_EQ(capture_verdict(capture_file(std::vector<float>(std::begin(extremes), std::end(extremes))), &pairs),
            ResultCode::OK);
  EXPECT_EQ(pairs, 2u);

  ScratchDir dir;
  write_file(dir.file("c.iq"), capture_file({1.5f, -2.25f, -0.0f, 3.0f}));
  IqCapture capture{};
  ASSERT_EQ(load_iq_capture(dir.file("c.iq").c_str(), &capture), ResultCode::OK);
  EXPECT_EQ(capture.samples[1], -2.25f);
  EXPECT_TRUE(std::signbit(capture.samples[2]));
  release_iq_capture(&capture);
}

TEST(CaptureLoader, RefusesBadLengthsAndNonFiniteValues) {
  EXPECT_EQ(capture_verdict({}), ResultCode::BAD_IQ);
  EXPECT_EQ(capture_verdict(Bytes(4, 0)), ResultCode::BAD_IQ);
  EXPECT_EQ(capture_verdict(Bytes(12, 0)), ResultCode::BAD_IQ);
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(capture_verdict(capture_file({0, 0, 0, nan})), ResultCode::BAD_IQ);  // Q of the last pair
  EXPECT_EQ(capture_verdict(capture_file({-inf, 0})), ResultCode::BAD_IQ);
  EXPECT_EQ(capture_verdict(capture_file({0, inf, 0, 0})), ResultCode::BAD_IQ);
  IqCapture capture{};
  EXPECT_EQ(load_iq_capture("/nonexistent/c.iq", &capture), ResultCode::BAD_IQ);
}

TEST(CaptureLoader, LargestCaptureAndOneMorePair) {
  ScratchDir dir;
  const std::string path = dir.file("big.iq");
  // Sparse files: the length is what matters.
  write_file(path, {});
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(IQ_MAX_FILE_SIZE)), 0);
  std::uint64_t pairs = 0;
  IqCapture capture{};
  ASSERT_EQ(load_iq_capture(path.c_str(), &capture), ResultCode::OK);
  pairs = capture.pair_count;
  release_iq_capture(&capture);
  EXPECT_EQ(pairs, IQ_MAX_PAIRS);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(IQ_MAX_FILE_SIZE + 8)), 0);
  EXPECT_EQ(load_iq_capture(path.c_str(), &capture), ResultCode::BAD_IQ);
}

TEST(CaptureLoader, RunningOutOfMemoryIsAnIoError) {
  ScratchDir dir;
  write_file(dir.file("c.iq"), capture_file({1, 2}));
  IqCapture capture{};
  // The file is read straight into the samples array: its request is the
  // only one, and its failure is an IO_ERROR, not an unreadable file.
  mem_fail_request(1);
  EXPECT_EQ(load_iq_capture(dir.file("c.iq").c_str(), &capture), ResultCode::IO_ERROR);
  EXPECT_EQ(mem_request_count(), 1u);
  mem_fail_request(0);
  EXPECT_EQ(capture.samples, nullptr);
  // A file longer than the largest capture is refused before any request.
  const std::string path = dir.file("long.iq");
  write_file(path, {});
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(IQ_MAX_FILE_SIZE + 1)), 0);
  EXPECT_EQ(load_iq_capture(path.c_str(), &capture), ResultCode::BAD_IQ);
  EXPECT_EQ(mem_request_count(), 0u);
}

}  // namespace kdsp
