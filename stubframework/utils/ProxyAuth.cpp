#include "stubframework/utils/ProxyAuth.h"
#include "stubframework/utils/SystemLibrary.h"

#include <windows.h>
#include <wincred.h>

#include <vector>

#include "stubframework/utils/Handle.h"
#include "stubframework/utils/WideFormat.h"

namespace stubframework { namespace utils {

namespace {

// What the run knows of one target.
struct TargetState {
    std::wstring target;
    Credentials accepted;        // empty user: none
    int prompts = 0;
    bool cancelled = false;
};

// What the run knows; one per process.
struct RunState {
    CriticalSection lock;            // guards everything below but the prompt
    CriticalSection promptLock;      // one prompt at a time, whichever thread asks
    std::vector<TargetState> targets;
    CredentialPrompt prompt = SystemCredentialPrompt;
    AuthLogSink sink = nullptr;
    void* context = nullptr;

    // Under the lock.
    TargetState& For(const std::wstring& target) {
        for (TargetState& known : targets)
            if (known.target == target) return known;
        targets.emplace_back();
        targets.back().target = target;
        return targets.back();
    }
};

RunState& State() {
    static RunState state;
    return state;
}

void Log(bool error, const wchar_t* format, const std::wstring& target) {
    RunState& state = State();
    AuthLogSink sink;
    void* context;
    {
        ScopedLock lock(state.lock);
        sink = state.sink;
        context = state.context;
    }
    if (sink) sink(context, error, FormatWide(format, target.c_str()).c_str());
}

void Wipe(std::wstring& text) {
    if (!text.empty()) ::SecureZeroMemory(&text[0], text.size() * sizeof(wchar_t));
    text.clear();
}

// The credential store of advapi32, looked up at run time: the stub's import list stays as it is.
struct CredentialStore {
    decltype(&::CredReadW) read = nullptr;
    decltype(&::CredWriteW) write = nullptr;
    decltype(&::CredFree) free = nullptr;
    CredentialStore() {
        const HMODULE module = LoadSystemLibrary(L"advapi32.dll");
        if (!LoadProc(module, "CredReadW", read) || !LoadProc(module, "CredWriteW", write) ||
            !LoadProc(module, "CredFree", free))
            read = nullptr;
    }
    bool Ok() const { return read != nullptr; }
};

const CredentialStore& Store() {
    static const CredentialStore store;
    return store;
}

// A generic credential named target, as the system's prompt stores it when "remember" is ticked.
bool ReadStored(const std::wstring& target, Credentials& out) {
    const CredentialStore& store = Store();
    PCREDENTIALW credential = nullptr;
    if (!store.Ok() || !store.read(target.c_str(), CRED_TYPE_GENERIC, 0, &credential) || !credential) return false;
    const bool usable = credential->UserName && credential->UserName[0];
    if (usable) {
        out.user = credential->UserName;
        out.password.assign(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                            credential->CredentialBlobSize / sizeof(wchar_t));
    }
    if (credential->CredentialBlob && credential->CredentialBlobSize)
        ::SecureZeroMemory(credential->CredentialBlob, credential->CredentialBlobSize);
    store.free(credential);
    return usable;
}

bool WriteStored(const std::wstring& target, const Credentials& credentials) {
    const CredentialStore& store = Store();
    if (!store.Ok()) return false;
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(credentials.password.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<LPBYTE>(const_cast<wchar_t*>(credentials.password.data()));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    credential.UserName = const_cast<wchar_t*>(credentials.user.c_str());
    return store.write(&credential, 0) != FALSE;
}

} // namespace

Credentials& Credentials::operator=(const Credentials& other) {
    if (this != &other) {
        Clear();
        user = other.user;
        password = other.password;
    }
    return *this;
}

void Credentials::Clear() {
    Wipe(password);
    user.clear();
}

bool SystemCredentialPrompt(const std::wstring& target, bool proxy, bool retry, Credentials& out, bool& remember) {
    using PromptFn = decltype(&::CredUIPromptForCredentialsW);
    static const PromptFn prompt = [] {
        PromptFn fn = nullptr;
        LoadProc(LoadSystemLibrary(L"credui.dll"), "CredUIPromptForCredentialsW", fn);
        return fn;
    }();
    if (!prompt) return false;
    const std::wstring message = FormatWide(proxy ? L"The proxy server %s asks for a user name and password."
                                                  : L"The server %s asks for a user name and password.",
                                            target.c_str());
    CREDUI_INFOW info = {};
    info.cbSize = sizeof(info);
    info.pszMessageText = message.c_str();
    wchar_t user[CREDUI_MAX_USERNAME_LENGTH + 1] = {};
    wchar_t password[CREDUI_MAX_PASSWORD_LENGTH + 1] = {};
    BOOL save = FALSE;
    // The prompt stores nothing itself: what the user asks to remember goes to the store only
    // once the other side has accepted it.
    const DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_SHOW_SAVE_CHECK_BOX |
                        CREDUI_FLAGS_DO_NOT_PERSIST | CREDUI_FLAGS_ALWAYS_SHOW_UI |
                        (retry ? CREDUI_FLAGS_INCORRECT_PASSWORD : 0);
    const DWORD result = prompt(&info, target.c_str(), nullptr, 0, user, CREDUI_MAX_USERNAME_LENGTH + 1, password,
                                CREDUI_MAX_PASSWORD_LENGTH + 1, &save, flags);
    if (result == NO_ERROR) {
        out.user = user;
        out.password = password;
        remember = save != FALSE;
    }
    ::SecureZeroMemory(password, sizeof(password));
    return result == NO_ERROR;
}

void SetCredentialPrompt(CredentialPrompt prompt) {
    RunState& state = State();
    ScopedLock lock(state.lock);
    state.prompt = prompt ? prompt : SystemCredentialPrompt;
}

void SetAuthLogSink(AuthLogSink sink, void* context) {
    RunState& state = State();
    ScopedLock lock(state.lock);
    state.sink = sink;
    state.context = context;
}

bool KnownCredentials(const std::wstring& target, Credentials& out) {
    RunState& state = State();
    ScopedLock lock(state.lock);
    const TargetState& known = state.For(target);
    if (known.accepted.user.empty()) return false;
    out = known.accepted;
    return true;
}

void ForgetRunCredentials() {
    RunState& state = State();
    ScopedLock lock(state.lock);
    state.targets.clear();
}

bool AuthRound::Preset(Credentials& out) {
    if (source_ != None || !KnownCredentials(target_, tried_)) return false;
    source_ = Known;
    out = tried_;
    return true;
}

bool AuthRound::Next(Credentials& out) {
    RunState& state = State();
    if (!challenged_) Log(false, L"ProxyAuth: %s asks for credentials.", target_);
    challenged_ = true;
    if (source_ == Known) {
        // Refused: a later request must not send them again.
        ScopedLock lock(state.lock);
        TargetState& known = state.For(target_);
        if (known.accepted.Same(tried_)) known.accepted.Clear();
    }
    if (source_ == None && KnownCredentials(target_, tried_)) {
        source_ = Known;
        out = tried_;
        return true;
    }
    if (!storedTried_) {
        storedTried_ = true;
        if (ReadStored(target_, tried_)) {
            Log(false, L"ProxyAuth: using the credentials remembered for %s.", target_);
            source_ = Stored;
            out = tried_;
            return true;
        }
    }
    return NextFromPrompt(out);
}

bool AuthRound::NextFromPrompt(Credentials& out) {
    RunState& state = State();
    if (!mayPrompt_) {
        Log(true, L"ProxyAuth: no credentials for %s, and this request does not ask the user.", target_);
        return false;
    }
    ScopedLock prompting(state.promptLock);
    CredentialPrompt prompt;
    bool retry = source_ != None;
    {
        ScopedLock lock(state.lock);
        TargetState& known = state.For(target_);
        // Another request may have been answered while this one waited for the prompt.
        if (!known.accepted.user.empty() && !known.accepted.Same(tried_)) {
            tried_ = known.accepted;
            source_ = Known;
            out = tried_;
            return true;
        }
        if (known.cancelled) {
            cancelled_ = true;
            return false;
        }
        int& shown = known.prompts;
        if (shown >= kMaxCredentialPrompts) {
            shown = kMaxCredentialPrompts;
            prompt = nullptr;
        } else {
            retry = retry || shown > 0;
            ++shown;
            prompt = state.prompt;
        }
    }
    if (!prompt) {
        Log(true, L"ProxyAuth: credentials for %s were refused too often; not asking again.", target_);
        return false;
    }
    Credentials typed;
    bool remember = false;
    if (!prompt(target_, proxy_, retry, typed, remember)) {
        {
            ScopedLock lock(state.lock);
            state.For(target_).cancelled = true;
        }
        cancelled_ = true;
        Log(true, L"ProxyAuth: the credential prompt for %s was cancelled.", target_);
        return false;
    }
    tried_ = typed;
    remember_ = remember;
    source_ = Prompted;
    out = tried_;
    return true;
}

void AuthRound::Accepted() {
    if (source_ == None) return;
    RunState& state = State();
    {
        ScopedLock lock(state.lock);
        state.For(target_).accepted = tried_;
    }
    if (source_ == Known) return;
    Log(false, L"ProxyAuth: credentials for %s accepted.", target_);
    if (source_ == Prompted && remember_) {
        if (WriteStored(target_, tried_)) Log(false, L"ProxyAuth: credentials for %s remembered.", target_);
        else Log(true, L"ProxyAuth: the credentials for %s could not be remembered.", target_);
        remember_ = false;
    }
}

}} // namespace stubframework::utils
