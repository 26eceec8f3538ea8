#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "platform/last_error.h"

namespace lyr {

// Why something failed: a code in the thread-last-error numbering
// (last_error.h), the operating system's errno when the failure came from a
// system call, and what was being done ("open /tmp/x.wav").
struct Error {
  uint32_t code = kErrorSuccess;
  int os_error = 0;
  std::string context;

  static Error Code(uint32_t code, std::string context = {}) { return {code, 0, std::move(context)}; }
  // A failed system call; `code` is the nearest last-error number.
  static Error Os(int os_error, std::string context = {}, uint32_t code = kErrorIoDevice) {
    return {code, os_error, std::move(context)};
  }

  // "context: reason" for people; the reason is the system's text for errno,
  // else what the last-error number means (LastErrorText).
  std::string Message() const {
    std::string reason = os_error != 0 ? std::strerror(os_error) : LastErrorText(code);
    return context.empty() ? reason : context + ": " + reason;
  }
};

// A value or the error that kept it from being made. Operations whose 1/0
// results and last error the recorder's callers rely on keep that form; the
// code below and beside them returns Result.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}      // NOLINT: implicit by design
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT
  // Anything that converts to T (a pointer to a derived class, a text).
  template <class U>
  requires(std::is_convertible_v<U&&, T> && !std::is_same_v<std::decay_t<U>, T> &&
           !std::is_same_v<std::decay_t<U>, Error>) Result(U&& value)
      : v_(std::in_place_index<0>, T(std::forward<U>(value))) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }
  // The value, or `fallback` where a failure only means "nothing to show".
  T value_or(T fallback) const& { return ok() ? std::get<0>(v_) : std::move(fallback); }

 private:
  std::variant<T, Error> v_;
};

// Success or an error, for operations that make no value.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  const Error& error() const { return error_; }

 private:
  Error error_;
  bool failed_ = false;
};
using Status = Result<void>;

// The Status face of an operation that reports its failure in the thread's
// last error: the number is kept as the error's code, `what` as its context.
inline Status LastErrorStatus(bool ok, std::string what = {}) {
  if (ok) return {};
  return Error::Code(GetLastError(), std::move(what));
}
// Runs `call` (true for success) with the last error cleared first, for
// operations that do not set one on every failure: a stale number must not
// pass for the reason. The code is 0 when the operation named none.
template <class Call>
Status CallWithLastError(Call&& call, std::string what = {}) {
  SetLastError(kErrorSuccess);
  const bool ok = call();
  return LastErrorStatus(ok, std::move(what));
}
// LastErrorStatus for an operation that made `value` when it succeeded.
template <class T>
Result<T> LastErrorResult(bool ok, T value, std::string what = {}) {
  if (ok) return Result<T>(std::move(value));
  return Error::Code(GetLastError(), std::move(what));
}

}  // namespace lyr

#define LYR_RESULT_CONCAT_INNER(a, b) a##b
#define LYR_RESULT_CONCAT(a, b) LYR_RESULT_CONCAT_INNER(a, b)

// Returns the error of `expr` (a Result) from the enclosing function.
#define LYR_TRY(expr)                                          \
  do {                                                         \
    auto&& lyr_try_result_ = (expr);                           \
    if (!lyr_try_result_.ok()) return lyr_try_result_.error(); \
  } while (0)

// Declares or assigns `lhs` from the value of `expr`, or returns its error.
#define LYR_TRY_ASSIGN(lhs, expr) LYR_TRY_ASSIGN_IMPL(LYR_RESULT_CONCAT(lyr_try_value_, __LINE__), lhs, expr)
#define LYR_TRY_ASSIGN_IMPL(tmp, lhs, expr) \
  auto tmp = (expr);                        \
  if (!tmp.ok()) return tmp.error();        \
  lhs = std::move(tmp).value()
