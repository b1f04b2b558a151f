#pragma once

#include <string>
#include <vector>

#include "NiloRead.h"
#include "ScriptedServer.h"
#include "nilo.h"

// One HTTP case as data: what the server sends after the request, what the
// caller must receive, and how the read must end. Every case runs twice: the
// response sent whole, and one byte per send.
struct HttpCase {
    const char* name;
    std::string response;
    std::string delivered;
    NILOState last;
    std::vector<NILOState> along;  // the phases the results before the last run through
    bool closeAfter = true;        // false: the server keeps the connection open, silent
    bool wholeOnly = false;        // the outcome depends on how the bytes are cut
};

inline std::string Url(const ScriptedServer& server, const std::string& path = "/") {
    return "http://" + server.Host() + ":" + std::to_string(server.Port()) + path;
}

// Runs a case against a fresh server; pieceSize 0 sends the response whole.
inline NiloRead RunCase(const HttpCase& c, size_t pieceSize, std::string* request = nullptr) {
    ScriptedServer server;
    ScriptedServer::Script script(pieceSize);
    script.AwaitRequest().Send(c.response);
    if (c.closeAfter)
        script.Close();
    else
        script.FallSilent();
    server.Add(script);
    void* handle = ConnectURL(Url(server).c_str(), 1, "", "");
    NiloRead read = ReadAll(handle);
    DisconnectNILO(handle);
    if (request) *request = server.Received(0);
    return read;
}

inline std::string LittleEndian(uint32_t n) {
    return std::string{static_cast<char>(n), static_cast<char>(n >> 8), static_cast<char>(n >> 16),
                       static_cast<char>(n >> 24)};
}
