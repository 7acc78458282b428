#pragma once
// Base exception of the core library: carries one owned message.
//
// Contract: what() returns the message text up to its first NUL; message()
// the whole text (a path in it may hold a NUL). The object owns its copy, so
// the text stays valid for as long as the exception lives.

#include <exception>
#include <string>

namespace qz {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

}  // namespace qz
