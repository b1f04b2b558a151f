#include "http/BRHTTPRequest.h"

#include <gtest/gtest.h>

namespace {

// Host carries the port unless it is the default, and an IPv6 address in
// its brackets.
TEST(BRHTTPRequestTest, HostCarriesThePortUnlessItIs80) {
    const struct {
        const char* url;
        const char* host;
    } cases[] = {
        {"http://camera1/video.cgi", "camera1"},
        {"http://camera1:80/video.cgi", "camera1"},
        {"http://camera1:8080/video.cgi", "camera1:8080"},
        {"http://[::1]/video.cgi", "[::1]"},
        {"http://[::1]:8080/video.cgi", "[::1]:8080"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(BRHTTPRequest::Build(BRURL(c.url, 1)), std::string("GET /video.cgi HTTP/1.1\r\nHost: ") + c.host +
                                                             "\r\nAccept: */*\r\nConnection: Keep-Alive\r\n"
                                                             "User-Agent: Nilo/1.7 (Brantol, Nilo-lib)\r\n\r\n");
    }
}

}  // namespace
