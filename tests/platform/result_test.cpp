#include "platform/result.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

lyr::Result<int> Parse(const std::string& text) {
  if (text.empty()) return lyr::Error::Code(lyr::kErrorInvalidData, "empty");
  return std::stoi(text);
}

lyr::Result<int> Twice(const std::string& text) {
  LYR_TRY_ASSIGN(const int n, Parse(text));
  return 2 * n;
}

lyr::Status Check(const std::string& text) {
  LYR_TRY(Twice(text));
  return {};
}

TEST(Result, EarlyReturnCarriesTheFirstError) {
  EXPECT_EQ(Twice("21").value(), 42);
  EXPECT_TRUE(Check("1").ok());
  const lyr::Status failed = Check("");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, lyr::kErrorInvalidData);
  EXPECT_EQ(failed.error().Message(), "empty: error 13");
  EXPECT_EQ(lyr::Error::Os(ENOENT, "open x.wav").Message(), "open x.wav: No such file or directory");
}

}  // namespace
