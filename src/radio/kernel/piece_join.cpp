#include "radio/kernel/piece_join.h"

#include <cstdio>
#include <cstring>

#include "formats/wav.h"
#include "radio/io/capture_file.h"
#include "radio/kernel/core_run.h"

namespace kdsp {

int kept_piece_samples(const Piece& piece, std::span<const std::uint8_t> wav, std::span<const std::uint8_t>* kept,
                       Failure* failure) {
  if (check_emitted_samples(wav, piece.pair_count / CORE_PAIRS_PER_SAMPLE, failure) != 0) return -1;
  const std::uint64_t local_begin = piece.keep_begin - piece.first_pair / CORE_PAIRS_PER_SAMPLE;
  *kept = wav.subspan(CORE_WAV_HEADER_BYTES + 2 * local_begin, 2 * (piece.keep_end - piece.keep_begin));
  return 0;
}

void write_joined_wav_header(std::uint8_t* header, std::uint64_t total_samples) {
  write_wav_header(header, total_samples, CORE_AUDIO_RATE);
}

int join_piece_wavs(const std::vector<Piece>& pieces, const std::vector<std::vector<std::uint8_t>>& wavs,
                    std::vector<std::uint8_t>* joined, Failure* failure) {
  const std::uint64_t total_samples = pieces.back().keep_end;
  std::vector<std::uint8_t> bytes(CORE_WAV_HEADER_BYTES + 2 * total_samples);
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    std::span<const std::uint8_t> kept;
    if (kept_piece_samples(pieces[k], wavs[k], &kept, failure) != 0) return -1;
    std::memcpy(bytes.data() + CORE_WAV_HEADER_BYTES + 2 * pieces[k].keep_begin, kept.data(), kept.size());
  }
  write_joined_wav_header(bytes.data(), total_samples);
  *joined = std::move(bytes);
  return 0;
}

int keep_piece(const std::string& dir, const std::string& prefix, std::size_t index,
               std::span<const std::complex<float>> capture, std::span<const std::uint8_t> wav, Failure* failure) {
  char number[32];
  std::snprintf(number, sizeof number, "piece-%03zu", index + 1);
  const std::string stem = dir + "/" + prefix + number;
  std::vector<std::uint8_t> bytes(8 * capture.size());
  encode_float32_le(std::span<const float>(reinterpret_cast<const float*>(capture.data()), 2 * capture.size()),
                    bytes.data());
  if (write_output_file((stem + ".iq").c_str(), bytes) != 0 || write_output_file((stem + ".wav").c_str(), wav) != 0) {
    *failure = Failure{"a piece could not be written to '" + dir + "'"};
    return -1;
  }
  return 0;
}

}  // namespace kdsp
