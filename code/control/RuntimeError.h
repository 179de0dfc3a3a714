#pragma once
// Run-time errors of the automation runtime, and the skip-on-error mode that some routines run in.
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "control/Text.h"

namespace kadroo {

// The runtime's error numbers that the control can raise.
enum class ErrorNumber : int32_t {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kFileNotFound = 53,
  kPermissionDenied = 70,
  kPathFileAccessError = 75,
  kPathNotFound = 76,
};

// The runtime's description of a number; numbers it has no text for get "Application-defined or object-defined error".
Text DescriptionOf(int32_t number);

// A run-time error: what escapes a routine without a trap and reaches the script as a failed call.
class RuntimeError : public std::exception {
 public:
  explicit RuntimeError(int32_t number) : number_(number), description_(DescriptionOf(number)) {}
  explicit RuntimeError(ErrorNumber number) : RuntimeError(static_cast<int32_t>(number)) {}
  RuntimeError(int32_t number, Text description) : number_(number), description_(std::move(description)) {}

  int32_t number() const { return number_; }
  const Text& description() const { return description_; }
  const char* what() const noexcept override { return "KadroOA run-time error"; }

 private:
  int32_t number_;
  Text description_;
};

[[noreturn]] inline void Raise(ErrorNumber number) { throw RuntimeError(number); }

// Maps whatever a step threw to a runtime error; bad_alloc is "Out of memory".
RuntimeError ToRuntimeError(std::exception_ptr error);

// Skip-on-error mode: a step that raises is abandoned, its error number stays pending until the routine tests it.
class SkipOnError {
 public:
  template <typename Step>
  void Run(Step&& step) {
    try {
      step();
    } catch (...) {
      pending_ = ToRuntimeError(std::current_exception()).number();
    }
  }

  bool IsPending() const { return pending_ > 0; }
  int32_t Pending() const { return pending_; }
  void Clear() { pending_ = 0; }

 private:
  int32_t pending_ = 0;
};

}  // namespace kadroo
