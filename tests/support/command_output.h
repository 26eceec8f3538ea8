#pragma once
// What a shell command printed on its standard output (for tests that read
// a result back with an outside tool).
#include <cstdio>
#include <string>

namespace lyr_test {

inline std::string CommandOutput(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

}  // namespace lyr_test
