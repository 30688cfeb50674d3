// The credentials one WinINet request answers challenges with: the proxy's (407) and the
// server's (401), each from its own AuthRound. Shared by the asynchronous downloads and the
// synchronous requests. This header needs no <wininet.h>.
#pragma once
#include <string>

#include "stubframework/utils/ProxyAuth.h"

namespace stubframework { namespace utils {

class RequestCredentials {
public:
    // Targets from the URL and the browser's proxy settings; what the run accepted for the proxy
    // already is sent from the first request on.
    explicit RequestCredentials(const std::wstring& url);
    ~RequestCredentials();
    // After a redirect: credentials stay only with the server and proxy that asked for them.
    void Retarget(const std::wstring& url);

    enum Outcome {
        NoChallenge,     // the answer is not 401 or 407 (any credentials sent are now accepted)
        SendAgain,       // new credentials are ready: the request goes out again (Apply first)
        GiveUp,          // none left: the answer stands as it is
        Cancelled        // the user cancelled the prompt: kCredentialsCancelledHr
    };
    // Judges the answer's status. May prompt (and so take long).
    Outcome OnStatus(unsigned long status);
    // A challenge of the proxy (or the server) told some other way; Current then has the
    // credentials to answer with.
    Outcome Challenge(bool proxy);
    const Credentials& Current(bool proxy) const { return proxy ? proxy_ : server_; }
    // Whether a proxy is set for the URL.
    bool HasProxy() const { return !proxyRound_.Target().empty(); }
    // A URL moniker's question for credentials (IAuthenticateEx): S_OK with copies the caller
    // frees with CoTaskMemFree, or E_ACCESSDENIED (cancelled tells whether the user cancelled).
    long AnswerMoniker(bool proxy, wchar_t** user, wchar_t** password, bool& cancelled);
    // The target the last challenge came from.
    const std::wstring& ChallengeTarget() const { return challenge_; }
    // Puts the credentials known so far on a request handle (HINTERNET) before it is sent.
    void Apply(void* request) const;

private:
    AuthRound proxyRound_;
    AuthRound serverRound_;
    Credentials proxy_;
    Credentials server_;
    std::wstring challenge_;
};

}} // namespace stubframework::utils
