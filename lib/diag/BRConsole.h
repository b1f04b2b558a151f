#pragma once

#include <string_view>

// The library's diagnostic lines on the process's standard streams. Each line
// is composed first and handed to the stream in one write, with its line end,
// then flushed, so lines that several threads write at the same time never
// run into each other.
class BRConsole {
public:
    static void Out(std::string_view line);  // standard output
    static void Err(std::string_view line);  // standard error
};
