// Decodes an MPEG Layer II file with the player's decoder and writes raw
// 16-bit stereo PCM to stdout, like `mpg123 -s`.
#include <cstdio>

#include "decoder/layer2_stream.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lyr-mp2-decode FILE.mp2 > out.raw\n");
    return 2;
  }
  FILE* in = std::fopen(argv[1], "rb");
  if (in == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  static char out_buffer[1 << 16];
  std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  bool write_failed = false;
  const lyr::Layer2StreamResult result = lyr::DecodeLayer2Stream(
      [in](uint8_t* buffer, size_t capacity) { return std::fread(buffer, 1, capacity, in); },
      [&write_failed](const int16_t* samples, size_t bytes) {
        if (std::fwrite(samples, 1, bytes, stdout) != bytes) write_failed = true;
      });
  std::fclose(in);
  if (std::fflush(stdout) != 0) write_failed = true;
  if (!result.ok || result.frames == 0 || write_failed) {
    std::fprintf(stderr, "lyr-mp2-decode: %s\n", write_failed ? "write failed" : "no frames decoded");
    return 1;
  }
  return 0;
}
