#include "diag/BRConsole.h"

#include <iostream>
#include <mutex>
#include <ostream>
#include <string>

namespace {

// With the standard streams tied to the C streams (the default), one write
// is already one unit; the lock keeps the library's own lines apart also for
// a program that has untied them.
std::mutex writeLock;

void WriteLine(std::ostream& stream, std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text += '\n';
    std::lock_guard<std::mutex> hold(writeLock);
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.flush();
}

}  // namespace

void BRConsole::Out(std::string_view line) { WriteLine(std::cout, line); }

void BRConsole::Err(std::string_view line) { WriteLine(std::cerr, line); }
