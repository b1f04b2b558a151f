// Parses arbitrary bytes as the WWW-Authenticate fields of a 401 response (one
// field per line) and answers the challenge chosen from them, as the reader
// does with what a server sent. The parse must give clean names and values,
// and the Authorization value must be one header line that reads back as one
// challenge-shaped credential holding the server's values.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/BRHTTPAuthenticator.h"
#include "http/BRHTTPChallenge.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool Clean(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return false;
    return true;
}

bool Lower(const std::string& text) {
    for (char c : text)
        if (c >= 'A' && c <= 'Z') return false;
    return true;
}

std::string FixedClientNonce() { return "0a4f113b"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> fields;
    for (size_t start = 0; start <= input.size();) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        fields.push_back(input.substr(start, end - start));
        start = end + 1;
    }

    for (const std::string& field : fields) {
        for (const BRHTTPChallenge& c : BRHTTPChallenge::Parse(field)) {
            Require(!c.scheme.empty() && Lower(c.scheme) && Clean(c.scheme), "a scheme is a lower-case token");
            Require(c.token68.empty() || c.params.empty(), "a token68 or parameters, not both");
            for (const auto& [name, value] : c.params) {
                Require(!name.empty() && Lower(name) && Clean(name), "a parameter name is a lower-case token");
                Require(Clean(value), "no control character in a value");
            }
        }
    }

    BRHTTPAuthenticator::SetClientNonceSource(&FixedClientNonce);
    BRHTTPAuthenticator authenticator;
    if (authenticator.Choose(fields)) {
        for (int round = 0; round < 2; ++round) {
            const auto answer = authenticator.Authorize("GET", "/a\"b\\c", "us\"er", "pass word");
            Require(Clean(answer.value) && Clean(answer.logged), "the answer is one header line");
            const auto back = BRHTTPChallenge::Parse(answer.value);
            Require(back.size() == 1, "the answer reads back as one credential");
            if (authenticator.Chosen() == BRHTTPAuthenticator::Scheme::Digest) {
                Require(back[0].scheme == "digest", "a Digest answer");
                const std::string* user = back[0].Param("username");
                const std::string* uri = back[0].Param("uri");
                const std::string* response = back[0].Param("response");
                Require(user && *user == "us\"er" && uri && *uri == "/a\"b\\c", "user and target read back");
                // The server's values are escaped, so the parameter's own
                // text appears once: the log is the value with it masked.
                Require(response != nullptr, "a response");
                const std::string shown = ", response=\"" + *response + "\"";
                std::string masked = answer.value;
                const size_t at = masked.find(shown);
                Require(at != std::string::npos && masked.find(shown, at + 1) == std::string::npos,
                        "the response parameter appears once");
                masked.replace(at, shown.size(), ", response=\"********\"");
                Require(answer.logged == masked, "the log masks the response and nothing else");
            } else {
                Require(back[0].scheme == "basic" && answer.logged == "Basic ********", "a masked Basic answer");
            }
        }
    }
    BRHTTPAuthenticator::ResetClientNonceSource();
    return 0;
}
