#include "transfer/sha1.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define LYR_SHA1_X86 1
#endif

namespace lyr {
namespace {

constexpr uint32_t kInitialState[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
constexpr uint32_t kPiece = 4096;  // progress and cancel step of a file's digest
// A file's digest reads this much at a time: 4 KiB reads cost more in system
// calls than the hashing of them.
constexpr uint32_t kReadSize = 1 << 20;

inline uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Rounds unrolled over rotating variable names; the schedule is computed on
// the fly in the first 16 words of the context's schedule.
#define LYR_SHA1_W(t) \
  (w[(t)&15] = Rol(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))
#define LYR_SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define LYR_SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define LYR_SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define LYR_SHA1_ROUND(a, b, c, d, e, f, k, wt) \
  do {                                          \
    e += Rol(a, 5) + f(b, c, d) + (k) + (wt);   \
    b = Rol(b, 30);                             \
  } while (0)
#define LYR_SHA1_FIVE(f, k, t, W)                  \
  LYR_SHA1_ROUND(a, b, c, d, e, f, k, W((t) + 0)); \
  LYR_SHA1_ROUND(e, a, b, c, d, f, k, W((t) + 1)); \
  LYR_SHA1_ROUND(d, e, a, b, c, f, k, W((t) + 2)); \
  LYR_SHA1_ROUND(c, d, e, a, b, f, k, W((t) + 3)); \
  LYR_SHA1_ROUND(b, c, d, e, a, f, k, W((t) + 4))
#define LYR_SHA1_LOADED(t) w[t]

void CompressPortable(Sha1Context* ctx, const uint8_t* data, size_t blocks) {
  uint32_t* w = ctx->schedule;
  for (; blocks > 0; --blocks, data += 64) {
    for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(data + 4 * t);
    uint32_t a = ctx->state[0], b = ctx->state[1], c = ctx->state[2], d = ctx->state[3], e = ctx->state[4];
    LYR_SHA1_FIVE(LYR_SHA1_F1, 0x5A827999, 0, LYR_SHA1_LOADED);
    LYR_SHA1_FIVE(LYR_SHA1_F1, 0x5A827999, 5, LYR_SHA1_LOADED);
    LYR_SHA1_FIVE(LYR_SHA1_F1, 0x5A827999, 10, LYR_SHA1_LOADED);
    LYR_SHA1_ROUND(a, b, c, d, e, LYR_SHA1_F1, 0x5A827999, w[15]);
    LYR_SHA1_ROUND(e, a, b, c, d, LYR_SHA1_F1, 0x5A827999, LYR_SHA1_W(16));
    LYR_SHA1_ROUND(d, e, a, b, c, LYR_SHA1_F1, 0x5A827999, LYR_SHA1_W(17));
    LYR_SHA1_ROUND(c, d, e, a, b, LYR_SHA1_F1, 0x5A827999, LYR_SHA1_W(18));
    LYR_SHA1_ROUND(b, c, d, e, a, LYR_SHA1_F1, 0x5A827999, LYR_SHA1_W(19));
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0x6ED9EBA1, 20, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0x6ED9EBA1, 25, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0x6ED9EBA1, 30, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0x6ED9EBA1, 35, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F3, 0x8F1BBCDC, 40, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F3, 0x8F1BBCDC, 45, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F3, 0x8F1BBCDC, 50, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F3, 0x8F1BBCDC, 55, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0xCA62C1D6, 60, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0xCA62C1D6, 65, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0xCA62C1D6, 70, LYR_SHA1_W);
    LYR_SHA1_FIVE(LYR_SHA1_F2, 0xCA62C1D6, 75, LYR_SHA1_W);
    ctx->state[0] += a;
    ctx->state[1] += b;
    ctx->state[2] += c;
    ctx->state[3] += d;
    ctx->state[4] += e;
  }
}

#ifdef LYR_SHA1_X86
#define LYR_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))

// Four rounds per step: groups [B, E) of the 20, all with round function F.
// w[j & 3] holds the schedule words 4j..4j+3 once computed; `prev` is the
// ABCD before the previous group, whose A rotated becomes this group's E.
template <int F, int B, int E>
LYR_SHA_TARGET __attribute__((always_inline)) inline void ShaGroups(__m128i (&w)[4], __m128i& abcd,
                                                                    __m128i& prev) {
#pragma GCC unroll 5
  for (int j = B; j < E; ++j) {
    if (j >= 4) {
      w[j & 3] = _mm_sha1msg2_epu32(
          _mm_xor_si128(_mm_sha1msg1_epu32(w[j & 3], w[(j + 1) & 3]), w[(j + 2) & 3]), w[(j + 3) & 3]);
    }
    const __m128i e = _mm_sha1nexte_epu32(prev, w[j & 3]);
    prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, F);
  }
}

LYR_SHA_TARGET void CompressShaExtensions(Sha1Context* c, const uint8_t* data, size_t blocks) {
  const __m128i byte_swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c->state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(c->state[4]), 0, 0, 0);
  for (; blocks > 0; --blocks, data += 64) {
    const __m128i abcd_save = abcd;
    const __m128i e0_save = e0;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), byte_swap);
    }
    __m128i prev = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, _mm_add_epi32(e0, w[0]), 0);
    ShaGroups<0, 1, 5>(w, abcd, prev);
    ShaGroups<1, 5, 10>(w, abcd, prev);
    ShaGroups<2, 10, 15>(w, abcd, prev);
    ShaGroups<3, 15, 20>(w, abcd, prev);
    e0 = _mm_sha1nexte_epu32(prev, e0_save);
    abcd = _mm_add_epi32(abcd, abcd_save);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c->state), _mm_shuffle_epi32(abcd, 0x1B));
  c->state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

bool ProcessorHasShaExtensions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & (1u << 9)) != 0;
  const bool sse41 = (ecx & (1u << 19)) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}
#endif

void Compress(Sha1Context* c, const uint8_t* data, size_t blocks) {
#ifdef LYR_SHA1_X86
  if (c->engine == Sha1Engine::ShaExtensions) {
    CompressShaExtensions(c, data, blocks);
    return;
  }
#endif
  CompressPortable(c, data, blocks);
}

void AddLength(Sha1Context* c, uint32_t bytes) {
  const uint64_t bits =
      (static_cast<uint64_t>(c->length_high) << 32 | c->length_low) + (uint64_t{bytes} << 3);
  c->length_low = static_cast<uint32_t>(bits);
  c->length_high = static_cast<uint32_t>(bits >> 32);
}

void Finish(Sha1Context* c, uint8_t* digest) {
  uint8_t tail[8];
  for (int i = 0; i < 4; ++i) {
    tail[i] = static_cast<uint8_t>(c->length_high >> (24 - 8 * i));
    tail[4 + i] = static_cast<uint8_t>(c->length_low >> (24 - 8 * i));
  }
  c->block[c->fill++] = 0x80;
  if (c->fill > 56) {
    std::memset(c->block + c->fill, 0, 64 - c->fill);
    Compress(c, c->block, 1);
    c->fill = 0;
  }
  std::memset(c->block + c->fill, 0, 56 - c->fill);
  std::memcpy(c->block + 56, tail, 8);
  Compress(c, c->block, 1);
  c->fill = 0;
  for (int i = 0; i < 5; ++i) {
    for (int k = 0; k < 4; ++k) digest[4 * i + k] = static_cast<uint8_t>(c->state[i] >> (24 - 8 * k));
  }
}

}  // namespace

bool Sha1EngineAvailable(Sha1Engine engine) {
  if (engine == Sha1Engine::Portable) return true;
#ifdef LYR_SHA1_X86
  static const bool available = ProcessorHasShaExtensions();
  return available;
#else
  return false;
#endif
}

Sha1Context* Sha1Create() {
  auto* c = new (std::nothrow) Sha1Context;
  if (c != nullptr) Sha1Init(c);
  return c;
}

void Sha1Init(Sha1Context* c) {
  std::memcpy(c->state, kInitialState, sizeof kInitialState);
  std::memset(c->schedule, 0, sizeof c->schedule);
  std::memset(c->block, 0, sizeof c->block);
  c->fill = 0;
  c->length_low = 0;
  c->length_high = 0;
  c->engine =
      Sha1EngineAvailable(Sha1Engine::ShaExtensions) ? Sha1Engine::ShaExtensions : Sha1Engine::Portable;
}

void Sha1Free(Sha1Context* c) { delete c; }

bool Sha1SelectEngine(Sha1Context* c, Sha1Engine engine) {
  if (!Sha1EngineAvailable(engine)) return false;
  c->engine = engine;
  return true;
}

uint32_t Sha1Update(Sha1Context* c, const void* data, uint32_t length, uint8_t* digest) {
  const auto* p = static_cast<const uint8_t*>(data);
  AddLength(c, length);
  uint32_t left = length;
  if (c->fill > 0) {
    const uint32_t take = std::min(left, 64 - c->fill);
    std::memcpy(c->block + c->fill, p, take);
    c->fill += take;
    p += take;
    left -= take;
    if (c->fill == 64) {
      Compress(c, c->block, 1);
      c->fill = 0;
    }
  }
  if (left >= 64) {
    Compress(c, p, left / 64);
    p += left / 64 * 64;
    left %= 64;
  }
  if (left > 0) {
    std::memcpy(c->block, p, left);
    c->fill = left;
  }
  if (digest != nullptr) Finish(c, digest);
  return length;
}

std::string Sha1DigestText(const uint8_t* digest) {
  static const char kHex[] = "0123456789abcdef";
  std::string text(2 * kSha1DigestSize, '0');
  for (size_t i = 0; i < kSha1DigestSize; ++i) {
    text[2 * i] = kHex[digest[i] >> 4];
    text[2 * i + 1] = kHex[digest[i] & 15];
  }
  return text;
}

namespace {

class FileReader {
 public:
  explicit FileReader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~FileReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  int fd() const { return fd_; }
  // Reads exactly `length` bytes, going on after short reads; a file that
  // ends early (cut while it was read) is an I/O error.
  Status ReadFull(uint8_t* buffer, size_t length, const std::string& path) {
    while (length > 0) {
      const ssize_t n = ::read(fd_, buffer, length);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Error::Os(errno, path);
      if (n == 0) return Error::Os(EIO, path + " (shorter than when it was opened)");
      buffer += n;
      length -= static_cast<size_t>(n);
    }
    return {};
  }

 private:
  int fd_;
};

struct ContextOwner {
  Sha1Context* context = Sha1Create();
  ~ContextOwner() { Sha1Free(context); }
};

}  // namespace

Result<std::string> DigestFileText(JobReporter& window, const std::string& path, uint32_t index,
                                   uint32_t count) {
  FileReader file(path);
  if (file.fd() < 0) return Error::Os(errno, path);
  struct stat st {};
  if (::fstat(file.fd(), &st) != 0) return Error::Os(errno, path);
  if (!S_ISREG(st.st_mode)) return Error::Os(EINVAL, path + " (not a regular file)");
  ::posix_fadvise(file.fd(), 0, 0, POSIX_FADV_SEQUENTIAL);
  const uint64_t length = static_cast<uint64_t>(st.st_size);
  ContextOwner owner;
  if (owner.context == nullptr) return Error::Code(kErrorNotEnoughMemory, "SHA-1 of " + path);

  GatedReporter reporter(window);
  const double n = count == 0 ? 1 : count;
  // The last piece is the one that finishes the message; a length that is a
  // whole number of pieces ends with a full piece.
  uint64_t full = length / kPiece;
  uint32_t rest = static_cast<uint32_t>(length % kPiece);
  if (rest == 0 && full > 0) {
    --full;
    rest = kPiece;
  }
  // Pieces are taken from a buffer filled kReadSize bytes at a time (the
  // last read holds what is left); kReadSize is whole pieces, so every piece
  // lies within one read.
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(length, kReadSize)));
  uint64_t unread = length;
  size_t at = 0, filled = 0;
  auto next_piece = [&](uint32_t size) -> Result<const uint8_t*> {
    if (at == filled) {
      filled = static_cast<size_t>(std::min<uint64_t>(unread, buffer.size()));
      LYR_TRY(file.ReadFull(buffer.data(), filled, path));
      unread -= filled;
      at = 0;
    }
    const uint8_t* piece = buffer.data() + at;
    at += size;
    return piece;
  };
  for (uint64_t k = 0; k < full; ++k) {
    reporter.SetStatus("SHA1 Generating");
    reporter.SetProgress(static_cast<int>(static_cast<double>(k) * 50 / static_cast<double>(full) / n +
                                          (index + 0.5) * 100 / n));
    reporter.SetFileProgress(static_cast<int>(k * 100 / full));
    LYR_TRY_ASSIGN(const uint8_t* piece, next_piece(kPiece));
    Sha1Update(owner.context, piece, kPiece);
    if (reporter.CancelRequested()) return Error::Code(kErrorCancelled, "SHA-1 of " + path);
  }
  reporter.SetStatus("SHA1 Generating");
  reporter.SetProgress(static_cast<int>((index + 1) * 100 / n));
  reporter.SetFileProgress(100);
  static constexpr uint8_t kNothing[1] = {};
  const uint8_t* last = kNothing;
  if (rest > 0) {
    LYR_TRY_ASSIGN(last, next_piece(rest));
  }
  Sha1Digest digest;
  Sha1Update(owner.context, last, rest, digest.data());
  return Sha1DigestText(digest.data());
}

bool DigestFile(JobReporter& window, const std::string& path, uint32_t index, uint32_t count,
                std::string* digest_text) {
  Result<std::string> digest = DigestFileText(window, path, index, count);
  if (!digest) return false;
  if (digest_text != nullptr) *digest_text = std::move(digest).value();
  return true;
}

}  // namespace lyr
