#pragma once
// The errors that handlers raise and the two ways handlers meet them: a resume-next handler skips
// the failing step and goes on; every other handler lets the error leave to the window's boundary.
#include <stdexcept>
#include <string>

// Base of every error the program raises itself; the message names what failed.
class FadewellError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Integer arithmetic that would leave its 16- or 32-bit range.
class OverflowError : public FadewellError {
public:
    OverflowError() : FadewellError("Overflow") {}
    explicit OverflowError(const std::string& what) : FadewellError("Overflow: " + what) {}
};

// A value that is not a finite number where one is needed.
class FloatingPointError : public FadewellError {
public:
    explicit FloatingPointError(const std::string& what) : FadewellError("Floating-point error: " + what) {}
};

// A media player operation that failed: a file that cannot be played, a refused value.
class PlayerError : public FadewellError {
public:
    using FadewellError::FadewellError;
};

// Runs one step of a resume-next handler: a failure abandons the step and is forgotten.
template <class Step>
void skipOnFailure(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}
