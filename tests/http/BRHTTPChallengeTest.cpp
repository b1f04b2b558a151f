#include "http/BRHTTPChallenge.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The challenges as one line: scheme, [token68], {name=value;...}, joined by " | ".
std::string Show(const std::vector<BRHTTPChallenge>& challenges) {
    std::string text;
    for (const BRHTTPChallenge& c : challenges) {
        if (!text.empty()) text += " | ";
        text += c.scheme;
        if (!c.token68.empty()) text += "[" + c.token68 + "]";
        text += "{";
        for (size_t i = 0; i < c.params.size(); ++i)
            text += (i ? ";" : "") + c.params[i].first + "=" + c.params[i].second;
        text += "}";
    }
    return text;
}

TEST(BRHTTPChallengeTest, ParsesFieldValues) {
    struct Case {
        const char* name;
        std::string value;
        std::string parsed;
    };
    const Case cases[] = {
        {"basic", R"(Basic realm="cam")", "basic{realm=cam}"},
        {"RFC 7616 challenge",
         R"(Digest realm="http-auth@example.org", qop="auth, auth-int", algorithm=SHA-256, )"
         R"(nonce="7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v", opaque="FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS")",
         "digest{realm=http-auth@example.org;qop=auth, auth-int;algorithm=SHA-256;"
         "nonce=7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v;opaque=FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS}"},
        {"several challenges in one field", R"(Digest realm="a", nonce="n1", Basic realm="b", Newauth)",
         "digest{realm=a;nonce=n1} | basic{realm=b} | newauth{}"},
        {"names in any case, values as sent", "DIGEST Realm=Cam, NONCE=AbC", "digest{realm=Cam;nonce=AbC}"},
        {"token68 forms", "Negotiate YIIB+w/=, Bearer abc=, Other x-._~+/", "negotiate[YIIB+w/=]{} | bearer[abc=]{} | other[x-._~+/]{}"},
        {"token68 then parameters", "Negotiate abc==, Basic realm=x", "negotiate[abc==]{} | basic{realm=x}"},
        {"empty list elements", " , ,Basic realm=x,, ,\tDigest realm=y , ,", "basic{realm=x} | digest{realm=y}"},
        {"blanks around the equals sign", "Basic realm = \"x\" , charset\t=\tUTF-8", "basic{realm=x;charset=UTF-8}"},
        {"escapes, and a comma inside quotes", R"(Basic realm="a \"q\" \\ b, c\d")", R"(basic{realm=a "q" \ b, cd})"},
        {"empty quoted value", R"(Basic realm="")", "basic{realm=}"},
        {"scheme alone", "Basic", "basic{}"},
        {"scheme alone before another", "Basic, Digest realm=x", "basic{} | digest{realm=x}"},
        {"parameter before any challenge is dropped", "realm=x, Basic realm=y", "basic{realm=y}"},
        {"parameter after a token68 is dropped", "Negotiate abc, realm=x", "negotiate[abc]{}"},

        // Malformed elements drop their challenge; the rest is still read.
        {"unterminated quote", R"(Basic realm="a", Digest realm="b)", "basic{realm=a}"},
        {"backslash before the end", "Basic realm=\"abc\\", ""},
        {"words without equals", "Foo a b c, Basic realm=x", "basic{realm=x}"},
        {"parameter without value", "Digest realm=x, nonce=, Basic realm=y", "basic{realm=y}"},
        {"junk after a value", R"(Digest realm="x" junk, nonce=1, Basic realm=y)", "basic{realm=y}"},
        {"scheme glued to a quote", R"(Basic"x", Digest realm=y)", "digest{realm=y}"},
        {"element that is no token", "=x, (y), Basic realm=y", "basic{realm=y}"},
        {"line end in a value", "Digest realm=\"a\r\nX-Evil: 1\", Basic realm=x", "basic{realm=x}"},
        {"escaped line end in a value", "Digest realm=\"a\\\nb\", Basic realm=x", "basic{realm=x}"},
        {"NUL in a value", std::string("Digest realm=\"a") + '\0' + "b\", Basic realm=x", "basic{realm=x}"},
        {"comma inside the quotes of a malformed element", R"(Foo x y="1, Basic realm=z", Basic realm=w)",
         "basic{realm=w}"},
        {"empty", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Show(BRHTTPChallenge::Parse(c.value)), c.parsed) << c.name;
}

TEST(BRHTTPChallengeTest, ParamFindsTheFirstOfAName) {
    const auto challenges = BRHTTPChallenge::Parse("Digest Realm=a, realm=b, nonce=n");
    ASSERT_EQ(challenges.size(), 1u);
    ASSERT_NE(challenges[0].Param("realm"), nullptr);
    EXPECT_EQ(*challenges[0].Param("realm"), "a");
    EXPECT_EQ(challenges[0].Param("opaque"), nullptr);
}

// Hostile values a megabyte long: each is read in one pass (the test's time
// limit would catch work that grows faster), with a plain result.
TEST(BRHTTPChallengeTest, LongHostileValuesEndWithAPlainResult) {
    const size_t n = 1 << 20;
    struct Case {
        std::string value;
        size_t challenges;
    };
    const Case cases[] = {
        {std::string(n, ','), 0},
        {std::string(n, '"'), 0},
        {std::string(n, '\\'), 0},
        {std::string(n, '='), 0},
        {"Basic " + std::string(n, 'a'), 1},  // one long token68
        {"Digest realm=\"" + std::string(n, 'a'), 0},
        {[&] {
             std::string many;
             while (many.size() < n) many += "a=1, ";
             return "Digest " + many;
         }(),
         1},
        {[&] {
             std::string many;
             while (many.size() < n) many += "B, ";
             return many;
         }(),
         n / 3 + 1},
    };
    for (const Case& c : cases) {
        const auto parsed = BRHTTPChallenge::Parse(c.value);
        EXPECT_EQ(parsed.size(), c.challenges) << c.value.substr(0, 20);
    }
}

}  // namespace
