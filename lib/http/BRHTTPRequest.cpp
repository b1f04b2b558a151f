#include "http/BRHTTPRequest.h"

namespace {
constexpr const char* kProduct = "Nilo/1.7";
constexpr const char* kComment = " (Brantol, Nilo-lib)\r\n";
}  // namespace

std::string BRHTTPRequest::Target(const BRURL& url) {
    std::string target;
    if (url.path.empty() || url.path[0] != '/') target += '/';
    target += url.path;
    if (!url.query.empty()) target += "?" + url.query;
    if (!url.fragment.empty()) target += "#" + url.fragment;
    return target;
}

std::string BRHTTPRequest::Build(const BRURL& url, const std::string& authorization) {
    std::string request = "GET " + Target(url) + " HTTP/1.1\r\nHost: ";
    // The port goes into Host unless it is the default: servers build
    // their redirects from it.
    request += url.HostLiteral();
    if (url.port != "80") request += ":" + url.port;
    request += "\r\nAccept: */*\r\nConnection: Keep-Alive\r\nUser-Agent: ";
    request += kProduct;
    request += kComment;
    if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
    return request + "\r\n";
}
