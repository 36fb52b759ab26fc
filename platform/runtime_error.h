#pragma once

#include <stdexcept>
#include <string>

// A runtime error that reaches the caller of a property or a dialog method,
// carrying the error number that callers test for.
class RuntimeError : public std::runtime_error {
  public:
    enum Number : int {
        Cancel = 0,               // a dialog was cancelled while CancelError is set
        InvalidArgument = 5,      // invalid procedure call or argument
        Overflow = 6,             // a value does not fit its type
        SubscriptOutOfRange = 9,  // an index or length past its bound
        InvalidPropertyValue = 380,
        BufferTooSmall = 20476,  // a dialog's answer does not fit its buffer
    };

    explicit RuntimeError(int number);
    RuntimeError(int number, const std::string& what);

    int number() const noexcept { return number_; }

  private:
    int number_;
};
