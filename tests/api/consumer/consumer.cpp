// Writes a file through a sink and reads it back through a source.
// Usage: consumer <absolute path of a file to create>
#include <nilo.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string url = std::string("file:///") + argv[1];
    char text[] = "through an installed nilo\n";

    void* sink = ConnectURL(url.c_str(), 0, nullptr, nullptr);
    if (WriteData(sink, text, sizeof text - 1) != NILO_DATA) return 1;
    DisconnectNILO(sink);

    void* source = ConnectURL(url.c_str(), 1, nullptr, nullptr);
    std::string read;
    char piece[8];
    for (;;) {
        unsigned size = sizeof piece;
        const NILOState r = GetData(source, piece, size);
        read.append(piece, size);
        if (r > NILO_MULTIPART) break;
    }
    DisconnectNILO(source);
    if (read != text) {
        std::fprintf(stderr, "read back \"%s\"\n", read.c_str());
        return 1;
    }
    return 0;
}
