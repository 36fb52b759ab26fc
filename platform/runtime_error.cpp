#include "platform/runtime_error.h"

namespace {
std::string DefaultText(int number) {
    switch (number) {
        case RuntimeError::Cancel:
            return "Cancel was selected.";
        case RuntimeError::InvalidArgument:
            return "Invalid procedure call or argument";
        case RuntimeError::Overflow:
            return "Overflow";
        case RuntimeError::SubscriptOutOfRange:
            return "Subscript out of range";
        case RuntimeError::InvalidPropertyValue:
            return "Invalid property value";
        default:
            return "Runtime error " + std::to_string(number);
    }
}
}  // namespace

RuntimeError::RuntimeError(int number) : RuntimeError(number, DefaultText(number)) {}

RuntimeError::RuntimeError(int number, const std::string& what)
    : std::runtime_error(what), number_(number) {}
