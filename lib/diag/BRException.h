#pragma once

#include <exception>
#include <string>

// The library's one exception type. Every throw site passes its message, its
// source line and the tag "src"; only the message is kept, and what() returns it.
class BRException : public std::exception {
public:
    BRException(const std::string& message, int line, const std::string& tag);
    // Also the copy constructor: an exception passed on keeps message and detail.
    BRException(const BRException& other, int line = 0, const std::string& tag = "n.a.");
    BRException& operator=(const BRException& other) = default;
    ~BRException() override;

    const char* what() const noexcept override;

    std::string message;
    std::string detail;
};
