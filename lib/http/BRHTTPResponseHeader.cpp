#include "http/BRHTTPResponseHeader.h"

#include "http/BRHTTPText.h"

BRHTTPResponseHeader::BRHTTPResponseHeader(std::string_view block_)
    : block(block_), lowered(BRHTTPText::Lower(block_)) {}

bool BRHTTPResponseHeader::StatusCode(uint32_t& code) const {
    const size_t blank = lowered.find(' ');
    if (blank == std::string::npos) return false;
    return BRHTTPText::DecimalU32(std::string_view(lowered).substr(blank + 1), code) == BRHTTPText::Number::Ok;
}

size_t BRHTTPResponseHeader::Find(std::string_view lowercaseName, size_t from) const {
    return lowered.find(lowercaseName, from);
}

std::string BRHTTPResponseHeader::LoweredValue(size_t namePos, std::string_view name) const {
    const size_t start = namePos + name.size();
    const size_t end = lowered.find("\r\n", start);
    return lowered.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool BRHTTPResponseHeader::ContentLength(size_t namePos, uint32_t& length) const {
    const size_t digits = BRHTTPText::SkipSpaces(lowered, namePos + std::string_view("content-length:").size());
    return BRHTTPText::DecimalU32(std::string_view(lowered).substr(digits), length) == BRHTTPText::Number::Ok;
}

std::string BRHTTPResponseHeader::Value(size_t namePos, std::string_view name) const {
    const size_t start = BRHTTPText::SkipSpaces(block, namePos + name.size());
    const size_t end = block.find("\r\n", start);
    return block.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string BRHTTPResponseHeader::Location(size_t namePos) const {
    const size_t start = BRHTTPText::SkipSpaces(block, namePos + std::string_view("location:").size());
    const size_t end = block.find('\r', start);
    return block.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
