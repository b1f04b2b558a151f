#include "http/BRHTTPAuthentication.h"

#include <memory>
#include <string>
#include <vector>

#include "api/nilo.h"
#include "client/BRDataSourceDescriptor.h"
#include "http/BRHTTPAuthenticator.h"
#include "http/BRHTTPConnection.h"
#include "http/BRHTTPReadState.h"
#include "http/BRHTTPRequest.h"
#include "http/BRHTTPResponseHeader.h"
#include "http/BRHTTPText.h"
#include "net/BRStandardIOBufferTCPIP.h"

namespace {

unsigned long PortNumber(const std::string& port) {
    try {
        return std::stoul(port);
    } catch (const std::exception&) {
        return 0;
    }
}

}  // namespace

bool BRHTTPAuthentication::SameOrigin(const BRURL& a, const BRURL& b) {
    return BRHTTPText::EqualsIgnoringCase(a.scheme, b.scheme) && BRHTTPText::EqualsIgnoringCase(a.host, b.host) &&
           PortNumber(a.port) == PortNumber(b.port);
}

BRHTTPAuthentication::Decision BRHTTPAuthentication::Decide(BRDataSourceDescriptor& d,
                                                            const BRHTTPResponseHeader& header) {
    BRHTTPReadState& state = *d.http;
    const std::vector<std::string_view> challenges = header.Fields().All("WWW-Authenticate");
    if (d.origin.user.empty() || challenges.empty() || !SameOrigin(d.url, d.origin)) return Decision::Deliver;
    // Once answered, a refusal is final: never a loop of answers.
    const Decision refused = state.answers == 0 ? Decision::Deliver : Decision::Fail;

    if (!d.authenticator) d.authenticator = std::make_unique<BRHTTPAuthenticator>();
    BRHTTPAuthenticator& authenticator = *d.authenticator;
    if (!authenticator.Choose(std::vector<std::string>(challenges.begin(), challenges.end()))) return refused;
    const bool digest = authenticator.Chosen() == BRHTTPAuthenticator::Scheme::Digest;
    // Basic joins user and password with a colon, so a user holding one
    // cannot be told apart from a shorter user.
    if (!digest && d.origin.user.find(':') != std::string::npos) return refused;
    if (state.answers == 1 && !(digest && authenticator.Stale())) return Decision::Fail;
    if (state.answers > 1) return Decision::Fail;

    state.answer = authenticator.Authorize("GET", BRHTTPRequest::Target(d.url), d.origin.user, d.origin.password);
    return Decision::Answer;
}

int32_t BRHTTPAuthentication::EndOfChallenge(BRDataSourceDescriptor& d) {
    const BRHTTPReadState& challenged = *d.http;
    auto next = std::make_unique<BRHTTPReadState>();
    next->answers = challenged.answers + 1;
    next->authorization = challenged.answer;
    if (challenged.keepAlive) {
        // What came after the challenge is not the answer to the new request.
        d.workBuffer->Clear();
        d.connection->ReceiveBuffer().Clear();
        next->reusedConnection = true;
    } else {
        d.connection.reset();
        d.connection = BRHTTPConnection::Connect(d.url);
        if (!d.connection) {
            d.flags = BR_DS_OPEN | BR_DS_FAILED;
            return NILO_ERROR;
        }
        d.workBuffer = std::make_unique<BRDataBuffer>(d.workBuffer->Granularity());
    }
    d.http = std::move(next);
    d.flags = BR_DS_OPEN;  // the request is due again
    return NILO_DATA;
}
