// Prints "<digest>  <file>" for each file, as sha1sum does, using the copy
// job's digest routine.
#include <cstdio>
#include <string>

#include "transfer/sha1.h"

int main(int argc, char** argv) {
  int status = 0;
  lyr::SilentReporter reporter;
  for (int i = 1; i < argc; ++i) {
    std::string text;
    if (!lyr::DigestFile(reporter, argv[i], 0, 1, &text)) {
      std::fprintf(stderr, "lyr-sha1sum: %s: cannot read\n", argv[i]);
      status = 1;
      continue;
    }
    std::printf("%s  %s\n", text.c_str(), argv[i]);
  }
  return status;
}
