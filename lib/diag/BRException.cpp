#include "diag/BRException.h"

BRException::BRException(const std::string& message, int /*line*/, const std::string& /*tag*/)
    : message(message) {}

BRException::BRException(const BRException& other, int /*line*/, const std::string& /*tag*/)
    : std::exception(other), message(other.message), detail(other.detail) {}

BRException::~BRException() = default;

const char* BRException::what() const noexcept { return message.c_str(); }
