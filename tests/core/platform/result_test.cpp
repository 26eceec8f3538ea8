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

// A bare code says what it means and what to do; an unknown one keeps its number.
TEST(Result, ACodeWithoutErrnoIsExplained) {
  struct Case {
    uint32_t code;
    const char* message;
  };
  const Case cases[] = {
      {lyr::kErrorConnectionUnavail,
       "recording list: the recorder stopped answering (error 1201): check its cable, plug it in again and "
       "retry"},
      {lyr::kErrorCancelled, "recording list: cancelled (error 1223)"},
      {lyr::kErrorInvalidData, "recording list: error 13"},
  };
  for (const Case& c : cases) EXPECT_EQ(lyr::Error::Code(c.code, "recording list").Message(), c.message);
  EXPECT_EQ(lyr::Error::Code(lyr::kErrorCancelled).Message(), "cancelled (error 1223)");
}

// The faces over operations that report through the last error keep its
// number as the code, and never take a stale one for a failure's reason.
TEST(Result, LastErrorFacesKeepTheNumberAndIgnoreAStaleOne) {
  lyr::SetLastError(lyr::kErrorInvalidData);
  EXPECT_TRUE(lyr::LastErrorStatus(true).ok());
  const lyr::Result<int> failed = lyr::LastErrorResult(false, 7, "clock");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, lyr::kErrorInvalidData);
  EXPECT_EQ(failed.error().context, "clock");
  EXPECT_EQ(failed.value_or(3), 3);
  EXPECT_EQ(lyr::LastErrorResult(true, 7).value_or(3), 7);

  const lyr::Status silent = lyr::CallWithLastError([] { return false; });
  ASSERT_FALSE(silent.ok());
  EXPECT_EQ(silent.error().code, lyr::kErrorSuccess);
  const lyr::Status named = lyr::CallWithLastError([] {
    lyr::SetLastError(lyr::kErrorConnectionUnavail);
    return false;
  });
  EXPECT_EQ(named.error().code, lyr::kErrorConnectionUnavail);
  EXPECT_TRUE(lyr::CallWithLastError([] { return true; }).ok());
}

}  // namespace
