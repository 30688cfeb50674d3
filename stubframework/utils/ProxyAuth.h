// The credentials a run answers authentication challenges with (407 from a proxy, 401 from a
// server), for every transport: WinINet, URL monikers and WinHTTP. They are held in memory
// only; the system's credential store keeps them only when the user ticks "remember".
#pragma once
#include <string>

namespace stubframework { namespace utils {

// A user name and password; the password is wiped when the holder lets go of it.
struct Credentials {
    std::wstring user;
    std::wstring password;

    Credentials() = default;
    Credentials(const Credentials& other) = default;
    Credentials& operator=(const Credentials& other);
    ~Credentials() { Clear(); }
    void Clear();
    bool Same(const Credentials& other) const { return user == other.user && password == other.password; }
};

// Asks the user for the credentials of target ("host:port"). proxy says whether a proxy or a
// server asks, retry that the last ones were refused. True with the credentials and whether to
// remember them; false when the user cancelled or no prompt can be shown.
using CredentialPrompt = bool (*)(const std::wstring& target, bool proxy, bool retry, Credentials& out,
                                  bool& remember);

// The system's credential dialog (credui.dll, loaded at run time).
bool SystemCredentialPrompt(const std::wstring& target, bool proxy, bool retry, Credentials& out, bool& remember);

// The prompt in use: the system's unless replaced (the development host asks its page). Null
// restores the system's.
void SetCredentialPrompt(CredentialPrompt prompt);

// Where the module's lines go (null: nowhere). They name targets, never a user or password.
using AuthLogSink = void (*)(void* context, bool error, const wchar_t* text);
void SetAuthLogSink(AuthLogSink sink, void* context);

// The credentials accepted for target earlier in this run; false when there are none.
bool KnownCredentials(const std::wstring& target, Credentials& out);

// Forgets what this run accepted, refused and was told (tests start each case afresh).
void ForgetRunCredentials();

// The result of a request whose credential prompt the user cancelled (ERROR_CANCELLED): the
// download ends as without network, without retries.
constexpr long kCredentialsCancelledHr = static_cast<long>(0x800704C7);

// How many times a run prompts for one target before it gives up.
constexpr int kMaxCredentialPrompts = 3;

// One request's way through the challenges of one target. After each challenge Next gives the
// credentials to send: those this run accepted already, then those remembered in the system's
// credential store under the target's name, then what the user types into the prompt (only
// where the request may prompt; again after a refusal, at most kMaxCredentialPrompts times a
// run). When the answer that follows is no challenge, Accepted keeps them for the rest of the
// run (and in the store when the user asked to remember them).
class AuthRound {
public:
    AuthRound(std::wstring target, bool proxy, bool mayPrompt)
        : target_(std::move(target)), proxy_(proxy), mayPrompt_(mayPrompt) {}

    // The credentials this run accepted for the target, to send before any challenge (saves a
    // round trip, and some proxy connections can be authenticated only that way).
    bool Preset(Credentials& out);
    bool Next(Credentials& out);
    void Accepted();
    // True once the user cancelled the prompt: the request ends as a network failure.
    bool Cancelled() const { return cancelled_; }
    // True when Next gave credentials at least once.
    bool Answered() const { return source_ != None; }
    const std::wstring& Target() const { return target_; }

private:
    enum Source { None, Known, Stored, Prompted };
    bool NextFromPrompt(Credentials& out);

    std::wstring target_;
    bool proxy_;
    bool mayPrompt_;
    bool cancelled_ = false;
    bool challenged_ = false;
    bool storedTried_ = false;
    bool remember_ = false;
    Source source_ = None;
    Credentials tried_;
};

}} // namespace stubframework::utils
