#pragma once
// The exception every library of this project raises for its own errors.
//
// Contract: what() returns the message alone; the source file (relative to the
// project root, as recorded by the compiler) and the line stay available to
// whoever catches the exception as qz::ExtException. Thrown by value, caught by
// reference; copying copies all three members. Raise it only through
// QZ_THROW so that file and line are the raising site's own.

#include <string>

#include "qz/Exception.h"

namespace qz {

class ExtException : public Exception {
public:
    ExtException(std::string message, std::string file, int line)
        : Exception(std::move(message)), file_(std::move(file)), line_(line) {}

    const std::string& file() const noexcept { return file_; }
    int line() const noexcept { return line_; }

private:
    std::string file_;
    int line_;
};

}  // namespace qz

// Throws qz::ExtException with the given message (anything convertible to
// std::string) and the current source file and line.
#define QZ_THROW(message) throw ::qz::ExtException((message), __FILE__, __LINE__)
