#pragma once
// Base exception of the core library: carries one owned message.
//
// Contract: what() returns the message text; the object owns its copy, so the
// text stays valid for as long as the exception lives.

#include <exception>
#include <string>

namespace qz {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

}  // namespace qz
