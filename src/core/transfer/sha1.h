#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "platform/result.h"
#include "job/job_reporter.h"

namespace lyr {

constexpr size_t kSha1DigestSize = 20;
using Sha1Digest = std::array<uint8_t, kSha1DigestSize>;

// How the compression function runs: the processor's SHA instructions where
// it has them, portable code otherwise. Both give the same digests.
enum class Sha1Engine { Portable, ShaExtensions };
bool Sha1EngineAvailable(Sha1Engine engine);

// SHA-1 of FIPS 180-1, one context per message.
struct Sha1Context {
  uint32_t state[5];      // chaining values
  uint32_t schedule[80];  // message schedule (the portable engine rolls through 16)
  uint8_t block[64];      // bytes waiting for a whole block
  uint32_t fill;          // bytes in `block`
  uint32_t length_low;    // message length in bits, low half
  uint32_t length_high;   // and high half
  Sha1Engine engine;
};

// Null when memory is short. A new context is initialised.
Sha1Context* Sha1Create();
// Resets to the empty message, with the fastest engine of this processor.
void Sha1Init(Sha1Context* context);
void Sha1Free(Sha1Context* context);
// Chooses the engine (tests, benchmarks); false when the processor lacks it.
bool Sha1SelectEngine(Sha1Context* context, Sha1Engine engine);

// Adds `length` bytes; with `digest` non-null it also finishes the message
// and writes the 20-byte digest. Returns the number of bytes taken.
uint32_t Sha1Update(Sha1Context* context, const void* data, uint32_t length, uint8_t* digest = nullptr);

// The digest as 40 lowercase hexadecimal digits, no separators, no line end.
std::string Sha1DigestText(const uint8_t* digest);

// Digest of a file just written by the copy job, reported to the job's
// window as the second half of file `index`'s share of `count` files on the
// overall bar. False when the file cannot be read or the job was cancelled.
bool DigestFile(JobReporter& reporter, const std::string& path, uint32_t index, uint32_t count,
                std::string* digest_text);
// The same, with the reason when there is no digest: the file and the
// system's reason, or last error 1223 when the job was cancelled.
Result<std::string> DigestFileText(JobReporter& reporter, const std::string& path, uint32_t index,
                                   uint32_t count);

}  // namespace lyr
