#include "url/BRURL.h"

#include <gtest/gtest.h>

#include "diag/BRException.h"

namespace {

struct Parsed {
    const char* url;
    const char* scheme;
    const char* user;
    const char* password;
    const char* host;
    const char* port;
    const char* path;
    const char* query;
    const char* fragment;
    int type;
};

const Parsed kAccepted[] = {
    // url, scheme, user, password, host, port, path, query, fragment, type
    {"http://viewer@camera1:8080/a/b?x=1&y=2#top", "http", "viewer", "", "camera1", "8080", "/a/b", "x=1&y=2", "top", 3},
    {"http://viewer:se:cret@camera1/", "http", "viewer", "se:cret", "camera1", "80", "/", "", "", 3},
    {"http://viewer:@camera1", "http", "viewer", "", "camera1", "80", "", "", "", 3},
    {"http://camera1", "http", "", "", "camera1", "80", "", "", "", 3},
    {"https://camera1/", "https", "", "", "camera1", "443", "/", "", "", 4},
    {"pelix://camera1/s", "pelix", "", "", "camera1", "80", "/s", "", "", 6},
    {"pelixs://camera1", "pelixs", "", "", "camera1", "443", "", "", "", 7},
    {"ftp://camera1/f", "ftp", "", "", "camera1", "23", "/f", "", "", 0},
    {"http://camera1#part", "http", "", "", "camera1", "80", "", "", "part", 3},
    {"http://camera1/p#part", "http", "", "", "camera1", "80", "/p", "", "part", 3},
    {"http://camera1?", "http", "", "", "camera1", "80", "", "", "", 3},
    // In network URLs a "?" after a "#" still starts the query...
    {"http://camera1/x#a?b", "http", "", "", "camera1", "80", "/x#a", "b", "", 3},
    // ...while in file URLs the first "?" or "#" decides.
    {"file:///x#a?b", "file", "", "", "", "", "/x", "", "a?b", 5},
    // The "@" is searched through the whole rest of the URL.
    {"http://camera1/docs/a@b/c", "http", "camera1/docs/a", "", "b", "80", "/c", "", "", 3},
    {"http:///x", "http", "", "", "", "80", "/x", "", "", 3},
    {"file:///dir/in.txt?v=2#end", "file", "", "", "", "", "/dir/in.txt", "v=2", "end", 5},
    {"file://server/in.txt", "file", "", "", "", "", "server/in.txt", "", "", 5},
    {"file:///C:/My Pictures/a.jpg", "file", "", "", "", "", "/C:/My Pictures/a.jpg", "", "", 5},
    {"HTTP://camera1/", "HTTP", "", "", "", "", "", "", "", 0},
    {"gopher://camera1/", "gopher", "", "", "", "", "", "", "", 0},
    {"camera1:8080/x", "camera1", "", "", "", "", "", "", "", 0},
    {":nothing", "", "", "", "", "", "", "", "", 0},
    // IPv6 addresses in brackets; the host is the bare address.
    {"http://[::1]:8080/cam", "http", "", "", "::1", "8080", "/cam", "", "", 3},
    {"http://[::1]", "http", "", "", "::1", "80", "", "", "", 3},
    {"http://viewer:pw@[fe80::1:2]:81?x", "http", "viewer", "pw", "fe80::1:2", "81", "", "x", "", 3},
    {"http://[::ffff:192.0.2.1]/", "http", "", "", "::ffff:192.0.2.1", "80", "/", "", "", 3},
};

TEST(BRURLTest, SplitsAcceptedUrls) {
    for (const Parsed& c : kAccepted) {
        SCOPED_TRACE(c.url);
        const BRURL u(c.url, 2);
        EXPECT_EQ(u.scheme, c.scheme);
        EXPECT_EQ(u.user, c.user);
        EXPECT_EQ(u.password, c.password);
        EXPECT_EQ(u.host, c.host);
        EXPECT_EQ(u.port, c.port);
        EXPECT_EQ(u.path, c.path);
        EXPECT_EQ(u.query, c.query);
        EXPECT_EQ(u.fragment, c.fragment);
        EXPECT_EQ(u.type, c.type);
        EXPECT_EQ(u.direction, 2);
    }
}

struct Refused {
    std::string url;
    const char* message;
};

TEST(BRURLTest, RefusesMalformedUrlsWithTheirMessage) {
    const Refused cases[] = {
        {"camera1", "missing URL scheme"},
        {"", "missing URL scheme"},
        {"http:/camera1/", "wrong URL scheme"},
        {"file:/data/in.txt", "wrong URL scheme"},
        {"https:", "wrong URL scheme"},
        {"mailto:someone", "not supported URL scheme"},
        {"telnet://camera1", "not supported URL scheme"},
        {"news:x", "not supported URL scheme"},
        {"nntp:x", "not supported URL scheme"},
        {"http://@camera1/", "wrong URL scheme, user not defined"},
        {"http://:pw@camera1/", "wrong URL scheme, user not defined"},
        {"http://camera1:/", "wrong URL scheme, wrong port number"},
        {"http://camera1:8o/", "wrong URL scheme, wrong port number"},
        {"http://camera1:-1/", "wrong URL scheme, wrong port number"},
        {"http://:80/", "wrong URL scheme, missing host"},
        // Control characters and, in network URLs, blanks would reach the
        // request text as they stand.
        {"http://camera1/a\r\nX-Injected: 1", "invalid character in URL"},
        {"http://camera1/a b", "invalid character in URL"},
        {"http://camera1/\x7f", "invalid character in URL"},
        {"file:///data/a\nb", "invalid character in URL"},
        {std::string("gopher://a\0b", 12), "invalid character in URL"},
        {"nocolon\t", "invalid character in URL"},
        {"http://[::1/", "wrong URL scheme, wrong IPv6 address"},
        {"http://[]/", "wrong URL scheme, wrong IPv6 address"},
        {"http://[camera1]/", "wrong URL scheme, wrong IPv6 address"},
        {"http://[::1]x/", "wrong URL scheme, wrong IPv6 address"},
        {"http://[::1%25eth0]/", "wrong URL scheme, wrong IPv6 address"},
        {"http://[::1]:/", "wrong URL scheme, wrong port number"},
    };
    for (const Refused& c : cases) {
        SCOPED_TRACE(c.url);
        try {
            BRURL u(c.url, 1);
            ADD_FAILURE() << "accepted";
        } catch (const BRException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
}

TEST(BRURLTest, BytesAboveAsciiPassUnchanged) {
    const BRURL u("http://camera1/b\xc3\xa4r?\xff", 1);
    EXPECT_EQ(u.path, "/b\xc3\xa4r");
    EXPECT_EQ(u.query, "\xff");
}

TEST(BRURLTest, HostLiteralPutsBracketsAroundIPv6Addresses) {
    EXPECT_EQ(BRURL("http://[::1]:8080/", 1).HostLiteral(), "[::1]");
    EXPECT_EQ(BRURL("http://camera1:8080/", 1).HostLiteral(), "camera1");
}

TEST(BRURLTest, DefaultRecordIsEmptySourceOfTypeZero) {
    const BRURL u;
    EXPECT_TRUE(u.scheme.empty() && u.host.empty() && u.port.empty() && u.path.empty());
    EXPECT_EQ(u.type, 0);
    EXPECT_EQ(u.direction, 1);
}

}  // namespace
