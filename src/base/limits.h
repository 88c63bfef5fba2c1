// Every limit and fixed constant of the tool, in one place. Nothing here is
// configurable: a run behaves the same on every machine.
#pragma once

#include <cstdint>

// Kernel image.
inline constexpr std::uint32_t KERNEL_MAGIC = 0x5053444Bu;  // "KDSP" read as little-endian u32
inline constexpr std::uint16_t KERNEL_VERSION = 1;
inline constexpr std::uint32_t KERNEL_HEADER_SIZE = 32;
inline constexpr std::uint32_t KERNEL_MAX_WORDS = 4096;
inline constexpr std::uint32_t DATA_MEMORY_SIZE = 1048576;  // 1 MiB of kernel data memory
inline constexpr std::uint64_t KERNEL_MAX_FILE_SIZE =
    KERNEL_HEADER_SIZE + 4ull * KERNEL_MAX_WORDS + DATA_MEMORY_SIZE;

// Capture.
inline constexpr std::uint64_t IQ_MAX_PAIRS = 7200000;  // 30 s at 240 000 pairs/s
inline constexpr std::uint64_t IQ_PAIR_BYTES = 8;
inline constexpr std::uint64_t IQ_MAX_FILE_SIZE = IQ_MAX_PAIRS * IQ_PAIR_BYTES;
inline constexpr std::uint32_t IQ_SAMPLE_RATE = 240000;

// Interpreter.
inline constexpr std::uint32_t REGISTER_COUNT = 16;
inline constexpr std::uint32_t MAX_STEPS = 100000;
inline constexpr std::uint32_t HANDLE_TABLE_SIZE = 128;
inline constexpr std::uint32_t CAPTURE_HANDLE = 1;
inline constexpr std::uint32_t MAX_CREATIONS = 32;
inline constexpr std::int32_t FMDEMOD_MAX_OFFSET_HZ = 100000;  // both signs
inline constexpr std::uint32_t FSHIFT_MAX_HZ = 10000;
inline constexpr std::uint32_t EXIT_MAX_CODE = 255;
inline constexpr double EMIT_GAIN = 0.72;

// Signal processing.
inline constexpr std::uint32_t AUDIO_SAMPLE_RATE = 48000;
inline constexpr std::uint32_t DECIMATION_FACTOR = 5;  // 240 000 -> 48 000
inline constexpr std::uint64_t FFT_PAD_TOTAL = 48000;
inline constexpr std::uint64_t FFT_PAD_OFFSET = 24000;
// Oscillators carry an accumulated phase and reduce it with the IEEE remainder
// against 2*pi after every this many samples, so it never grows large enough
// to lose precision, while staying cheap (one remainder per 4096 samples).
inline constexpr std::uint64_t PHASE_WRAP_INTERVAL = 4096;

// WAV.
inline constexpr std::uint64_t WAV_HEADER_SIZE = 44;
inline constexpr std::uint64_t WAV_MAX_SAMPLES = 2147483625;  // (2^32 - 1 - 44) / 2
