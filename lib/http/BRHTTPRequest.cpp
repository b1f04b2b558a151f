#include "http/BRHTTPRequest.h"

namespace {
constexpr const char* kProduct = "Nilo/1.7";
constexpr const char* kComment = " (Brantol, Nilo-lib)\r\n\r\n";
}  // namespace

std::string BRHTTPRequest::Build(const BRURL& url) {
    std::string request = "GET ";
    if (url.path.empty() || url.path[0] != '/') request += '/';
    request += url.path;
    if (!url.query.empty()) request += "?" + url.query;
    if (!url.fragment.empty()) request += "#" + url.fragment;
    request += " HTTP/1.1\r\nHost: ";
    // The port goes into Host unless it is the default: servers build
    // their redirects from it.
    request += url.HostLiteral();
    if (url.port != "80") request += ":" + url.port;
    request += "\r\nAccept: */*\r\nConnection: Keep-Alive\r\nUser-Agent: ";
    request += kProduct;
    request += kComment;
    return request;
}
