// Joining the audio of a long capture's pieces (piece_plan.h) into one WAV,
// and keeping a piece's capture and WAV beside each other so that any piece
// can be checked against kdsp: the same for one channel and for every
// transmission of a band.
#pragma once

#include <complex>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "radio/base/failure.h"
#include "radio/kernel/piece_plan.h"

namespace kdsp {

// The samples of a piece's WAV (as the core wrote it for the piece's
// capture) that go into the joined audio, as 16-bit little-endian bytes.
// 0 with `*kept` viewing `wav`, or -1 with `*cause` set when the kernel
// emitted another length than the capture gives.
int kept_piece_samples(const Piece& piece, std::span<const std::uint8_t> wav, std::span<const std::uint8_t>* kept,
                       Failure* failure);

// Writes the header of the joined WAV holding `total_samples` samples.
void write_joined_wav_header(std::uint8_t* header, std::uint64_t total_samples);

// The joined WAV of `pieces` from each piece's WAV, in memory. 0 with
// `*joined` filled, or -1 with `*cause` set.
int join_piece_wavs(const std::vector<Piece>& pieces, const std::vector<std::vector<std::uint8_t>>& wavs,
                    std::vector<std::uint8_t>* joined, Failure* failure);

// Writes DIR/<prefix>piece-NNN.iq (the piece's capture as kdsp reads it)
// and DIR/<prefix>piece-NNN.wav (what kdsp wrote for it), `index` counting
// from 0. 0, or -1 with `*cause` set.
int keep_piece(const std::string& dir, const std::string& prefix, std::size_t index,
               std::span<const std::complex<float>> capture, std::span<const std::uint8_t> wav, Failure* failure);

}  // namespace kdsp
