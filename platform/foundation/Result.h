#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace foundation {

// Why an operation failed, in words fit for a log line or a user. A failed system call also
// keeps its errno and the call's name, so a caller can tell "missing" from "refused" without
// parsing words, and a log line can name what failed.
struct Error {
  std::string message;
  int code = 0;                // errno of the failing call, 0 when no call failed
  const char* call = nullptr;  // the failing call ("open", "rename", ...), or nullptr

  // A system call's failure: "<context>: <strerror(code)>" (or "<call>: ..." without context).
  static Error fromErrno(const char* call, std::string context = {}, int code = errno) {
    std::string text = context.empty() ? std::string(call) : std::move(context);
    text += ": ";
    text += std::strerror(code);
    return Error{std::move(text), code, call};
  }
};

// The outcome of an operation that can fail with a reason: a value of T, or an Error. Built
// implicitly from either, so a function returns `value` or `Error{"..."}`. No exceptions: asking
// an error for its value (or a value for its error) is a programming fault and aborts.
template <class T>
class [[nodiscard]] Result {
  static_assert(!std::is_same_v<std::remove_cv_t<T>, Error>, "a Result cannot hold an Error value");

 public:
  Result(const T& value) : _outcome(std::in_place_index<0>, value) {}
  Result(T&& value) : _outcome(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : _outcome(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return _outcome.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return *checked(std::get_if<0>(&_outcome)); }
  const T& value() const& { return *checked(std::get_if<0>(&_outcome)); }
  T&& value() && { return std::move(*checked(std::get_if<0>(&_outcome))); }
  const Error& error() const { return *checked(std::get_if<1>(&_outcome)); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  // The value, or `fallback` when this is an error.
  T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }
  T valueOr(T fallback) && { return ok() ? std::move(*this).value() : std::move(fallback); }
  // The value, for a caller to whom any failure means "not there"; nullopt when this is an error.
  std::optional<T> toOptional() && {
    if (!ok()) return std::nullopt;
    return std::move(*this).value();
  }

  // True when this holds a value equal to `other`; an error equals no value.
  friend bool operator==(const Result& result, const T& other) {
    return result.ok() && result.value() == other;
  }
  // Two values that are equal, or two errors with the same message.
  friend bool operator==(const Result& one, const Result& other) {
    if (one.ok() != other.ok()) return false;
    return one.ok() ? one.value() == other.value() : one.error().message == other.error().message;
  }

 private:
  template <class P>
  static P* checked(P* pointer) {
    if (!pointer) std::abort();
    return pointer;
  }
  std::variant<T, Error> _outcome;
};

// The outcome of an operation that yields nothing but can fail: success (the default) or an Error.
template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : _error(std::move(error)) {}

  bool ok() const { return !_error; }
  explicit operator bool() const { return ok(); }
  const Error& error() const {
    if (!_error) std::abort();
    return *_error;
  }

 private:
  std::optional<Error> _error;
};

}  // namespace foundation
