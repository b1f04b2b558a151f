#include "http/BRHTTPAuthenticator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/BRHTTPChallenge.h"

namespace {

using Scheme = BRHTTPAuthenticator::Scheme;

std::string fixedClientNonce;
std::string FixedClientNonce() { return fixedClientNonce; }

// Every test answers with the client nonce it sets; the system's source is
// back afterwards.
class BRHTTPAuthenticatorTest : public ::testing::Test {
protected:
    void SetUp() override { BRHTTPAuthenticator::SetClientNonceSource(&FixedClientNonce); }
    void TearDown() override { BRHTTPAuthenticator::ResetClientNonceSource(); }
};

// RFC 7616 section 3.9.1.
const std::string kNonce7616 = "7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v";
const std::string kClientNonce7616 = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
const std::string kOpaque7616 = "FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS";

std::string Challenge7616(const std::string& algorithm) {
    return "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=" + algorithm + ", nonce=\"" +
           kNonce7616 + "\", opaque=\"" + kOpaque7616 + "\"";
}

std::string Answer7616(const std::string& algorithm, const std::string& response) {
    return "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"/dir/index.html\", algorithm=" +
           algorithm + ", nonce=\"" + kNonce7616 + "\", nc=00000001, cnonce=\"" + kClientNonce7616 +
           "\", qop=auth, response=\"" + response + "\", opaque=\"" + kOpaque7616 + "\"";
}

// The worked examples of the RFCs, whole header values, and the -sess
// variants of the RFC 7616 example (computed independently).
TEST_F(BRHTTPAuthenticatorTest, WorkedExamples) {
    struct Case {
        const char* name;
        std::vector<std::string> challenges;
        std::string user, password, clientNonce;
        std::string value;
    };
    const Case cases[] = {
        {"RFC 7616 MD5", {Challenge7616("MD5")}, "Mufasa", "Circle of Life", kClientNonce7616,
         Answer7616("MD5", "8ca523f5e9506fed4657c9700eebdbec")},
        {"RFC 7616 SHA-256", {Challenge7616("SHA-256")}, "Mufasa", "Circle of Life", kClientNonce7616,
         Answer7616("SHA-256", "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1")},
        {"RFC 7616 MD5-sess", {Challenge7616("MD5-sess")}, "Mufasa", "Circle of Life", kClientNonce7616,
         Answer7616("MD5-sess", "e783283f46242139c486a698fec7211d")},
        {"RFC 7616 SHA-256-sess", {Challenge7616("SHA-256-sess")}, "Mufasa", "Circle of Life", kClientNonce7616,
         Answer7616("SHA-256-sess", "2fd51b3a77ad75bad6afad6003e818d767133c46d9e2749e7f5232ae1ea3efd7")},
        {"RFC 2617 section 3.5",
         {R"(Digest realm="testrealm@host.com", qop="auth,auth-int", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", )"
          R"(opaque="5ccc069c403ebaf9f0171e9517f40e41")"},
         "Mufasa", "Circle Of Life", "0a4f113b",
         R"(Digest username="Mufasa", realm="testrealm@host.com", uri="/dir/index.html", )"
         R"(nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", nc=00000001, cnonce="0a4f113b", qop=auth, )"
         R"(response="6629fae49393a05397450978507c4ef1", opaque="5ccc069c403ebaf9f0171e9517f40e41")"},
        {"RFC 2069 form (no qop)",
         {R"(Digest realm="testrealm@host.com", nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", )"
          R"(opaque="5ccc069c403ebaf9f0171e9517f40e41")"},
         "Mufasa", "CircleOfLife", "unused",
         R"(Digest username="Mufasa", realm="testrealm@host.com", uri="/dir/index.html", )"
         R"(nonce="dcd98b7102dd2f0e8b11d0f600bfb0c093", response="1949323746fe6a43ef61f9606e7febea", )"
         R"(opaque="5ccc069c403ebaf9f0171e9517f40e41")"},
        {"RFC 7617 Basic", {R"(Basic realm="WallyWorld")"}, "Aladdin", "open sesame", "",
         "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"RFC 7617 Basic, UTF-8", {R"(Basic realm="foo", charset="UTF-8")"}, "test", "123\xc2\xa3", "",
         "Basic dGVzdDoxMjPCow=="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fixedClientNonce = c.clientNonce;
        BRHTTPAuthenticator authenticator;
        ASSERT_TRUE(authenticator.Choose(c.challenges));
        const auto answer = authenticator.Authorize("GET", "/dir/index.html", c.user, c.password);
        EXPECT_EQ(answer.value, c.value);
    }
}

TEST_F(BRHTTPAuthenticatorTest, LogFormMasksOnlyTheSecret) {
    fixedClientNonce = kClientNonce7616;
    BRHTTPAuthenticator digest;
    ASSERT_TRUE(digest.Choose({Challenge7616("SHA-256")}));
    const auto answer = digest.Authorize("GET", "/dir/index.html", "Mufasa", "Circle of Life");
    const std::string response = "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1";
    std::string expected = answer.value;
    expected.replace(expected.find(response), response.size(), "********");
    EXPECT_EQ(answer.logged, expected);

    BRHTTPAuthenticator basic;
    ASSERT_TRUE(basic.Choose({"Basic realm=x"}));
    EXPECT_EQ(basic.Authorize("GET", "/", "Aladdin", "open sesame").logged, "Basic ********");
}

// Which challenge is answered, given the WWW-Authenticate values of one response.
TEST_F(BRHTTPAuthenticatorTest, ChoosesTheStrongestSupportedChallenge) {
    const std::string md5 = R"(Digest realm="r", nonce="n", qop="auth")";
    const std::string sha = R"(Digest realm="r", nonce="n", qop="auth", algorithm=SHA-256)";
    struct Case {
        const char* name;
        std::vector<std::string> fields;
        std::string chosen;  // Description(); empty: none supported
        bool stale = false;
    };
    const Case cases[] = {
        {"Digest before Basic", {"Basic realm=r", md5}, "Digest MD5"},
        {"SHA-256 before MD5, in one field", {md5 + ", " + sha}, "Digest SHA-256"},
        {"SHA-256 before MD5, in two fields", {sha, md5}, "Digest SHA-256"},
        {"plain before -sess of the same hash",
         {R"(Digest realm=r, nonce=n, qop=auth, algorithm=SHA-256-sess)", sha}, "Digest SHA-256"},
        {"-sess of SHA-256 before MD5", {md5, R"(Digest realm=r, nonce=n, qop=auth, algorithm=SHA-256-sess)"},
         "Digest SHA-256-sess"},
        {"MD5-sess before Basic", {"Basic realm=r", R"(Digest realm=r, nonce=n, qop=auth, algorithm=MD5-sess)"},
         "Digest MD5-sess"},
        {"names and tokens in any case", {R"(DIGEST REALM=r, NONCE=n, QOP="AUTH", ALGORITHM=sha-256)"},
         "Digest SHA-256"},
        {"auth among other qop values", {R"(Digest realm=r, nonce=n, qop="auth-int , auth")"}, "Digest MD5"},
        {"auth-int only is skipped", {R"(Digest realm=r, nonce=n, qop="auth-int")", "Basic realm=r"}, "Basic"},
        {"unknown qop only is skipped", {R"(Digest realm=r, nonce=n, qop="authx")"}, ""},
        {"unknown algorithm is skipped", {R"(Digest realm=r, nonce=n, qop=auth, algorithm=SHA-512-256)"}, ""},
        {"no nonce is skipped", {R"(Digest realm=r, qop=auth)", "Basic realm=r"}, "Basic"},
        {"no realm is skipped", {R"(Digest nonce=n, qop=auth)"}, ""},
        {"no qop: MD5 in the old form", {R"(Digest realm=r, nonce=n)", "Basic realm=r"}, "Digest MD5 without qop"},
        {"no qop loses to qop", {R"(Digest realm=r, nonce=n)", md5}, "Digest MD5"},
        {"no qop: SHA-256 is skipped", {R"(Digest realm=r, nonce=n, algorithm=SHA-256)"}, ""},
        {"no qop: MD5-sess is skipped", {R"(Digest realm=r, nonce=n, algorithm=MD5-sess)"}, ""},
        {"unknown schemes only", {"Negotiate abc", "Bearer realm=r", "NTLM"}, ""},
        {"Basic without realm", {"Basic"}, "Basic"},
        {"no challenge at all", {}, ""},
        {"a malformed challenge does not hide the next", {R"(Digest realm="r, Basic realm=s)", "Basic realm=s"},
         "Basic"},
        {"stale=true", {R"(Digest realm=r, nonce=n2, qop=auth, stale=TRUE)"}, "Digest MD5", true},
        {"stale=false", {R"(Digest realm=r, nonce=n2, qop=auth, stale=false)"}, "Digest MD5", false},
        {"stale of a challenge not chosen", {R"(Digest realm=r, nonce=n2, qop=auth, stale=true)", sha},
         "Digest SHA-256", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BRHTTPAuthenticator authenticator;
        EXPECT_EQ(authenticator.Choose(c.fields), !c.chosen.empty());
        EXPECT_EQ(authenticator.Description(), c.chosen);
        EXPECT_EQ(authenticator.Chosen() == Scheme::None, c.chosen.empty());
        EXPECT_EQ(authenticator.Stale(), c.stale);
        if (c.chosen.empty()) {
            EXPECT_EQ(authenticator.Authorize("GET", "/", "u", "p").value, "");
        }
    }
}

TEST_F(BRHTTPAuthenticatorTest, AmongEqualChallengesTheFirstIsAnswered) {
    BRHTTPAuthenticator authenticator;
    ASSERT_TRUE(authenticator.Choose({R"(Digest realm="first", nonce=n, qop=auth)",
                                      R"(Digest realm="second", nonce=n, qop=auth)"}));
    EXPECT_NE(authenticator.Authorize("GET", "/", "u", "p").value.find(R"(realm="first")"), std::string::npos);
}

// The nonce count goes up with each answer to the same server nonce and
// starts again at 1 for a new one; RFC 7616's example gives the responses.
TEST_F(BRHTTPAuthenticatorTest, NonceCountCountsPerServerNonce) {
    fixedClientNonce = kClientNonce7616;
    auto field = [](const std::string& value, const std::string& name) {
        const auto parsed = BRHTTPChallenge::Parse(value);
        const std::string* found = parsed.empty() ? nullptr : parsed[0].Param(name);
        return found ? *found : std::string("(none)");
    };
    BRHTTPAuthenticator authenticator;
    ASSERT_TRUE(authenticator.Choose({Challenge7616("MD5")}));
    const std::string first = authenticator.Authorize("GET", "/dir/index.html", "Mufasa", "Circle of Life").value;
    const std::string second = authenticator.Authorize("GET", "/dir/index.html", "Mufasa", "Circle of Life").value;
    EXPECT_EQ(field(first, "nc"), "00000001");
    EXPECT_EQ(field(first, "response"), "8ca523f5e9506fed4657c9700eebdbec");
    EXPECT_EQ(field(second, "nc"), "00000002");
    EXPECT_EQ(field(second, "response"), "4b5d595ecf2db9df612ea5b45cd97101");

    // A new nonce (as after stale=true) starts again at 1; the same nonce
    // chosen again counts on.
    ASSERT_TRUE(authenticator.Choose({R"(Digest realm="r", nonce="fresh", qop=auth, stale=true)"}));
    EXPECT_EQ(field(authenticator.Authorize("GET", "/", "u", "p").value, "nc"), "00000001");
    EXPECT_EQ(field(authenticator.Authorize("GET", "/", "u", "p").value, "nc"), "00000002");
    ASSERT_TRUE(authenticator.Choose({R"(Digest realm="r", nonce="fresh", qop=auth)"}));
    EXPECT_EQ(field(authenticator.Authorize("GET", "/", "u", "p").value, "nc"), "00000003");

    // Eight hexadecimal digits, lower case.
    for (int k = 4; k <= 26; ++k) authenticator.Authorize("GET", "/", "u", "p");
    EXPECT_EQ(field(authenticator.Authorize("GET", "/", "u", "p").value, "nc"), "0000001b");
}

// Quotes and backslashes in the user, the realm, the nonce and the target are
// escaped; the digest is computed over the values themselves, as the server
// unquotes them. Parsing the answer back gives the values.
TEST_F(BRHTTPAuthenticatorTest, QuotedValuesAreEscaped) {
    fixedClientNonce = "c\"n";
    BRHTTPAuthenticator authenticator;
    ASSERT_TRUE(authenticator.Choose({R"(Digest realm="a \"b\" \\c", nonce="n\"1", opaque="o\\", qop=auth)"}));
    const std::string value = authenticator.Authorize("GET", "/x\"y", "us\"er\\", "pw").value;
    const auto parsed = BRHTTPChallenge::Parse(value);
    ASSERT_EQ(parsed.size(), 1u) << value;
    const BRHTTPChallenge& answer = parsed[0];
    EXPECT_EQ(answer.scheme, "digest");
    const std::pair<const char*, std::string> expected[] = {
        {"username", "us\"er\\"}, {"realm", "a \"b\" \\c"}, {"uri", "/x\"y"},
        {"nonce", "n\"1"},        {"cnonce", "c\"n"},       {"opaque", "o\\"},
    };
    for (const auto& [name, raw] : expected) {
        ASSERT_NE(answer.Param(name), nullptr) << name;
        EXPECT_EQ(*answer.Param(name), raw) << name;
    }
    const std::string ha1 = BRDigest::MD5Hex("us\"er\\:a \"b\" \\c:pw");
    const std::string ha2 = BRDigest::MD5Hex("GET:/x\"y");
    EXPECT_EQ(*answer.Param("response"), BRDigest::MD5Hex(ha1 + ":n\"1:00000001:c\"n:auth:" + ha2));
}

TEST(BRHTTPAuthenticatorClientNonce, IsRandomHexUnlessReplaced) {
    const std::string first = BRHTTPAuthenticator::RandomClientNonce();
    EXPECT_EQ(first.size(), 32u);
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
    EXPECT_NE(first, BRHTTPAuthenticator::RandomClientNonce());

    BRHTTPAuthenticator authenticator;
    ASSERT_TRUE(authenticator.Choose({"Digest realm=r, nonce=n, qop=auth"}));
    BRHTTPAuthenticator::SetClientNonceSource([] { return std::string("fixed"); });
    EXPECT_NE(authenticator.Authorize("GET", "/", "u", "p").value.find("cnonce=\"fixed\""), std::string::npos);
    BRHTTPAuthenticator::ResetClientNonceSource();
    const std::string value = authenticator.Authorize("GET", "/", "u", "p").value;
    EXPECT_EQ(value.find("cnonce=\"fixed\""), std::string::npos);
    EXPECT_NE(value.find("cnonce=\""), std::string::npos);
}

}  // namespace
