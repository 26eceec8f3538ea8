#pragma once
#include <cstdint>

namespace lyr::decoder {

constexpr int kSubbands = 32;
constexpr int kBlocksPerFrame = 36;  // blocks of 32 subband samples in a Layer II frame
constexpr int kBlockValues = 64;     // matrixed values kept per block
constexpr int kHistoryBlocks = 15;   // earlier blocks the window still reaches

// Subband samples of one channel and frame, subband-major so that the
// matrixing runs over all blocks at once.
struct SubbandSamples {
  alignas(64) int32_t value[kSubbands][kBlocksPerFrame];
};

// Matrixed values of the last blocks of one channel: 15 blocks of earlier
// frames, then the blocks of the current frame, then one block of read slack.
struct SynthesisHistory {
  alignas(64) int32_t value[(kHistoryBlocks + kBlocksPerFrame + 1) * kBlockValues];
};

// Runs the synthesis filterbank over the 36 blocks of a frame of one or two
// channels and writes interleaved stereo samples: sample j of block b of
// channel c goes to out[(b * 32 + j) * 2 + c]; a single channel goes to both.
void SynthesizeFrame(const SubbandSamples* samples, int channels, SynthesisHistory* history, int16_t* out);

// One block of the windowed sum: 32 output samples from the matrixed values
// of the newest block (`block`) and the 15 before it (at block - 64 * age).
using WindowKernel = void (*)(const int32_t* block, const int32_t* window, int16_t* out);
using MatrixKernel = void (*)(const SubbandSamples& in, int32_t (*out)[kBlocksPerFrame]);
// The matrixed values of a frame, value-major, to block-major order.
using TransposeKernel = void (*)(const int32_t (*in)[kBlocksPerFrame], int32_t (*out)[kSubbands]);

struct SynthesisKernel {
  const char* name;
  WindowKernel window;
  MatrixKernel matrix;
  TransposeKernel transpose;
};
// Every kernel this processor runs, the portable reference first. All give
// the same output samples; the last is the one the decoder uses unless the
// environment variable LYR_DECODER_KERNEL names another ("reference",
// "avx2", "avx512").
int AvailableSynthesisKernels(SynthesisKernel* out, int capacity);
// Makes every decoder of this process use the named kernel from now on
// (tests, fuzzing, benchmarks); false when this processor has no such kernel.
bool SelectSynthesisKernel(const char* name);
const char* SelectedSynthesisKernel();

}  // namespace lyr::decoder
