// Every transport through squid with Basic authentication, the only route to the download host
// (a name only squid resolves). One process for all cases: HKEY_CURRENT_USER, where the proxy
// settings and the credential store live, is redirected to a throwaway key for the whole run.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincred.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "stubframework/core/DownloadWorkflow.h"
#include "stubframework/core/PullDownload.h"
#include "stubframework/core/ReportTransport.h"
#include "stubframework/core/TokenService.h"
#include "stubframework/utils/AuthTarget.h"
#include "stubframework/utils/ProxyAuth.h"
#include "stubframework/utils/WideFormat.h"
#include "tests/core/RegistryRedirect.h"
#include "downloader/Ref.h"
#include "tests/downloader/Helpers.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace stubframework;
using utils::Credentials;

// What proxy_start.sh wrote: "port N", "host NAME", "user NAME", "password TEXT", "state DIR".
struct ProxyFacts {
    int port = 0;
    std::wstring host, user, password, state;
    std::wstring Target() const { return L"127.0.0.1:" + std::to_wstring(port); }
};

ProxyFacts ReadFacts() {
    ProxyFacts facts;
    std::string text;
    testsupport::ReadFileBytes(TANDORA_PROXY_DIR L"\\proxy", text);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const size_t blank = line.find(' ');
        if (blank == std::string::npos) continue;
        const std::string key = line.substr(0, blank);
        const std::wstring value(line.begin() + blank + 1, line.end());
        if (key == "port") facts.port = std::stoi(line.substr(blank + 1));
        else if (key == "host") facts.host = value;
        else if (key == "user") facts.user = value;
        else if (key == "password") facts.password = value;
        else if (key == "state") facts.state = L"Z:" + value;
    }
    for (wchar_t& c : facts.state) if (c == L'/') c = L'\\';
    return facts;
}

// The prompt, answered from a script; a missing answer is a cancel.
struct Answer {
    bool given;
    std::wstring user, password;
    bool remember;
};
std::deque<Answer> g_answers;
std::vector<bool> g_retries;    // the retry flag of each prompt shown

bool ScriptedPrompt(const std::wstring&, bool proxy, bool retry, Credentials& out, bool& remember) {
    EXPECT_TRUE(proxy);
    g_retries.push_back(retry);
    if (g_answers.empty()) return false;
    const Answer answer = g_answers.front();
    g_answers.pop_front();
    if (!answer.given) return false;
    out.user = answer.user;
    out.password = answer.password;
    remember = answer.remember;
    return true;
}

utils::CriticalSection g_linesLock;
std::vector<std::wstring> g_lines;
void CaptureLine(void*, bool, const wchar_t* text) {
    utils::ScopedLock lock(g_linesLock);
    g_lines.push_back(text);
}

// The browser's proxy settings, as WinINet and WinHTTP each read them.
bool PointProxySettingsAt(const std::wstring& proxy) {
    utils::ScopedRegKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                          nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD enable = 1;
    ::RegSetValueExW(key.Get(), L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
    ::RegSetValueExW(key.Get(), L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(proxy.c_str()),
                     static_cast<DWORD>((proxy.size() + 1) * sizeof(wchar_t)));
    std::string blob;
    const auto put = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), sizeof(value)); };
    put(0x46);
    put(0);
    put(3);    // direct, and the named proxy
    put(static_cast<DWORD>(proxy.size()));
    blob += std::string(proxy.begin(), proxy.end());
    put(0);    // no bypass list
    blob.append(36, '\0');
    utils::ScopedRegKey connections;
    return ::RegCreateKeyExW(key.Get(), L"Connections", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, connections.Receive(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExW(connections.Get(), L"DefaultConnectionSettings", 0, REG_BINARY,
                            reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size())) ==
               ERROR_SUCCESS;
}

bool Remember(const ProxyFacts& facts, const std::wstring& password) {
    CREDENTIALW credential = {};
    credential.Type = CRED_TYPE_GENERIC;
    const std::wstring target = facts.Target();
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.UserName = const_cast<wchar_t*>(facts.user.c_str());
    credential.CredentialBlobSize = static_cast<DWORD>(password.size() * sizeof(wchar_t));
    credential.CredentialBlob = reinterpret_cast<BYTE*>(const_cast<wchar_t*>(password.data()));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return ::CredWriteW(&credential, 0) != FALSE;
}

// The password remembered under target, or "" when none is.
std::wstring Remembered(const std::wstring& target) {
    PCREDENTIALW credential = nullptr;
    if (!::CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &credential)) return std::wstring();
    const std::wstring password(reinterpret_cast<const wchar_t*>(credential->CredentialBlob),
                                credential->CredentialBlobSize / sizeof(wchar_t));
    ::CredFree(credential);
    return password;
}

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

// Every value below key whose bytes hold needle (as UTF-16 or as 8-bit text).
void FindInRegistry(HKEY key, const std::wstring& path, const std::wstring& needle, std::vector<std::wstring>& found) {
    const std::string wide(reinterpret_cast<const char*>(needle.data()), needle.size() * sizeof(wchar_t));
    const std::string narrow(needle.begin(), needle.end());
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::string data(size, '\0');
        nameLength = 16384;
        if (::RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) !=
            ERROR_SUCCESS)
            continue;
        if (Contains(data, wide) || Contains(data, narrow)) found.push_back(path + L"\\" + name);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (::RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        utils::ScopedRegKey child;
        if (::RegOpenKeyExW(key, name, 0, KEY_READ, child.Receive()) == ERROR_SUCCESS)
            FindInRegistry(child.Get(), path + L"\\" + name, needle, found);
    }
}

// The three transports, each fetching or posting through the proxy. True when it got through;
// hr is the transport's own result where it has one.
struct Outcome {
    bool ok = false;
    HRESULT hr = E_FAIL;
};

class ToMemory : public downloader::ITaskCallback<downloader::HttpToMemResult&&>, public dltest::Completion {
public:
    void OnComplete(downloader::HttpToMemResult&& result) override {
        result_ = result.result;
        if (result.data) bytes_.assign(reinterpret_cast<const char*>(result.data), result.size);
        Signal();
    }
    long result_ = E_PENDING;
    std::string bytes_;
};

// What a plain download's page callback would be, minus the page.
class SilentBinding final : public IBindStatusCallback {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid != IID_IUnknown && riid != IID_IBindStatusCallback) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnStartBinding(DWORD, IBinding*) override { return S_OK; }
    STDMETHODIMP GetPriority(LONG*) override { return S_OK; }
    STDMETHODIMP OnLowResource(DWORD) override { return S_OK; }
    STDMETHODIMP OnProgress(ULONG, ULONG, ULONG, LPCWSTR) override { return S_OK; }
    STDMETHODIMP OnStopBinding(HRESULT, LPCWSTR) override { return S_OK; }
    STDMETHODIMP GetBindInfo(DWORD*, BINDINFO*) override { return S_OK; }
    STDMETHODIMP OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override { return S_OK; }
    STDMETHODIMP OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }
};

struct Transport {
    const char* name;
    Outcome (*run)(const ProxyFacts& facts, const std::wstring& tag, const testsupport::TempFolder& folder);
    bool tellsCancel;    // its result says the prompt was cancelled (kCredentialsCancelledHr)
};

std::string PublishedPackage() {
    std::string bytes;
    testsupport::ReadFileBytes(dltest::ServerFile(L"pkg10.bin"), bytes);
    return bytes;
}

std::wstring PackageUrl(const ProxyFacts& facts, const std::wstring& tag) {
    return utils::FormatWide(L"http://%s:%d/pkg10.bin?tag=%s", facts.host.c_str(),
                             dltest::Port("nginx"), tag.c_str());
}

const Transport kTransports[] = {
    {"WinINet", [](const ProxyFacts& facts, const std::wstring& tag, const testsupport::TempFolder&) {
         const downloader::Ref<downloader::ILogger> logger(downloader::CreateNullLogger());
         const downloader::Ref<dltest::Object<ToMemory>> callback(downloader::details::New<ToMemory>());
         const downloader::Ref<downloader::ITask> task(
             downloader::CreateHttpToMemTask(PackageUrl(facts, tag).c_str(), callback.Get(), logger.Get()));
         task->Start();
         Outcome outcome;
         EXPECT_TRUE(callback->Wait());
         outcome.hr = callback->result_;
         outcome.ok = outcome.hr == S_OK && callback->bytes_ == PublishedPackage();
         return outcome;
     }, true},
    {"URL moniker", [](const ProxyFacts& facts, const std::wstring& tag, const testsupport::TempFolder& folder) {
         const std::wstring path = folder / (tag + L".bin");
         Outcome outcome;
         SilentBinding binding;
         outcome.hr = core::PullDownloadToFile(PackageUrl(facts, tag).c_str(), path.c_str(), &binding);
         std::string bytes;
         outcome.ok = outcome.hr == S_OK && testsupport::ReadFileBytes(path, bytes) && bytes == PublishedPackage();
         return outcome;
     }, true},
    {"WinHTTP", [](const ProxyFacts& facts, const std::wstring& tag, const testsupport::TempFolder&) {
         core::ServiceEndpoint endpoint;
         endpoint.host = facts.host;
         endpoint.port = static_cast<unsigned short>(dltest::Port("nginx"));
         endpoint.secure = false;
         Outcome outcome;
         outcome.ok = core::SendServiceRequest(endpoint, L"POST", L"/logUserActivity?tag=" + tag, "<UserActivity/>",
                                               true);
         outcome.hr = outcome.ok ? S_OK : E_FAIL;
         return outcome;
     }, false},
    // The synchronous WinINet requests: the token request and the self-update probe.
    {"WinINet, synchronous", [](const ProxyFacts& facts, const std::wstring& tag, const testsupport::TempFolder&) {
         Outcome outcome;
         outcome.ok = core::ProbeUrl(PackageUrl(facts, tag));
         outcome.hr = outcome.ok ? S_OK : E_FAIL;
         return outcome;
     }, false},
};

// squid's lines for tag: what it answered and whom it let through.
std::vector<std::string> ProxyLines(const ProxyFacts& facts, const std::wstring& tag) {
    std::string log;
    testsupport::ReadFileBytes(facts.state + L"\\access.log", log);
    std::vector<std::string> lines;
    const std::string wanted = dltest::Narrow(tag);
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(start, end - start);
        if (Contains(line, wanted)) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// One line answered (not 407) to the proxy's user. squid writes a line when the exchange ends,
// which for a request whose answer was not read may be a little after the client closed it.
bool LetThrough(const ProxyFacts& facts, const std::wstring& tag) {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    do {
        for (const std::string& line : ProxyLines(facts, tag))
            if (!Contains(line, "/407 ") && Contains(line, " " + dltest::Narrow(facts.user) + " ")) return true;
        ::Sleep(50);
    } while (::GetTickCount64() < deadline);
    return false;
}

// Refused: squid logged the tag's requests, each with 407.
bool OnlyRefused(const ProxyFacts& facts, const std::wstring& tag) {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (ProxyLines(facts, tag).empty() && ::GetTickCount64() < deadline) ::Sleep(50);
    const std::vector<std::string> lines = ProxyLines(facts, tag);
    for (const std::string& line : lines)
        if (!Contains(line, "/407 ")) return false;
    return !lines.empty();
}

class ProxyAuthTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        redirect_.reset(new testsupport::RedirectedCurrentUser());
        facts_ = ReadFacts();
        proxyReady_ = redirect_->Ok() && facts_.port != 0 && !facts_.password.empty() &&
                      PointProxySettingsAt(facts_.Target());
        utils::SetCredentialPrompt(ScriptedPrompt);
        utils::SetAuthLogSink(CaptureLine, nullptr);
    }
    static void TearDownTestSuite() {
        utils::SetAuthLogSink(nullptr, nullptr);
        utils::SetCredentialPrompt(nullptr);
        redirect_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(proxyReady_) << "squid's facts or the redirected proxy settings are missing";
        Fresh();
    }
    // A run that knows nothing yet and has no remembered credentials.
    void Fresh() {
        utils::ForgetRunCredentials();
        ::CredDeleteW(facts_.Target().c_str(), CRED_TYPE_GENERIC, 0);
        g_answers.clear();
        g_retries.clear();
    }
    std::wstring CancelLine() const {
        return L"ProxyAuth: the credential prompt for " + facts_.Target() + L" was cancelled.";
    }
    bool Logged(const std::wstring& line) {
        utils::ScopedLock lock(g_linesLock);
        for (const std::wstring& text : g_lines)
            if (text == line) return true;
        return false;
    }

    static std::unique_ptr<testsupport::RedirectedCurrentUser> redirect_;
    static ProxyFacts facts_;
    static bool proxyReady_;
    testsupport::TempFolder folder_;
};
std::unique_ptr<testsupport::RedirectedCurrentUser> ProxyAuthTest::redirect_;
ProxyFacts ProxyAuthTest::facts_;
bool ProxyAuthTest::proxyReady_ = false;

TEST_F(ProxyAuthTest, DirectRouteIsClosedAndTheProxyRefusesWithoutCredentials) {
    // Without these two the other cases would prove nothing.
    const std::wstring tag = dltest::Tag(L"closed");
    g_answers.push_back({false, L"", L"", false});
    const Outcome outcome = kTransports[0].run(facts_, tag, folder_);
    EXPECT_FALSE(outcome.ok);
    EXPECT_TRUE(OnlyRefused(facts_, tag)) << "the request did not go through squid, or was let through";
}

TEST_F(ProxyAuthTest, RememberedCredentialsServeEveryTransportWithoutAPrompt) {
    for (const Transport& transport : kTransports) {
        SCOPED_TRACE(transport.name);
        Fresh();
        ASSERT_TRUE(Remember(facts_, facts_.password));
        const std::wstring tag = dltest::Tag(L"stored");
        const Outcome outcome = transport.run(facts_, tag, folder_);
        EXPECT_TRUE(outcome.ok) << std::hex << outcome.hr;
        EXPECT_TRUE(g_retries.empty()) << "prompted " << g_retries.size() << " times";
        EXPECT_TRUE(LetThrough(facts_, tag));
    }
}

TEST_F(ProxyAuthTest, AnsweredPromptServesTheRunAndIsRememberedOnlyWhenAsked) {
    for (const Transport& transport : kTransports) {
        SCOPED_TRACE(transport.name);
        Fresh();
        const bool remember = &transport == &kTransports[0];
        g_answers.push_back({true, facts_.user, facts_.password, remember});
        const std::wstring tag = dltest::Tag(L"prompt");
        const Outcome outcome = transport.run(facts_, tag, folder_);
        EXPECT_TRUE(outcome.ok) << std::hex << outcome.hr;
        EXPECT_EQ(g_retries.size(), 1u);
        EXPECT_TRUE(LetThrough(facts_, tag));
        EXPECT_EQ(Remembered(facts_.Target()), remember ? facts_.password : L"");
        // The rest of the run: every transport without another prompt.
        for (const Transport& next : kTransports) {
            const std::wstring again = dltest::Tag(L"again");
            EXPECT_TRUE(next.run(facts_, again, folder_).ok) << next.name;
            EXPECT_TRUE(LetThrough(facts_, again)) << next.name;
        }
        EXPECT_EQ(g_retries.size(), 1u);
    }
}

TEST_F(ProxyAuthTest, WrongPasswordPromptsAgainAndCancelEndsAsNoNetwork) {
    for (const Transport& transport : kTransports) {
        SCOPED_TRACE(transport.name);
        Fresh();
        {
            utils::ScopedLock lock(g_linesLock);
            g_lines.clear();
        }
        g_answers.push_back({true, facts_.user, L"not-" + facts_.password, true});
        g_answers.push_back({false, L"", L"", false});
        const std::wstring tag = dltest::Tag(L"cancel");
        const Outcome outcome = transport.run(facts_, tag, folder_);
        EXPECT_FALSE(outcome.ok);
        if (transport.tellsCancel) {
            EXPECT_EQ(outcome.hr, utils::kCredentialsCancelledHr) << std::hex << outcome.hr;
        }
        EXPECT_EQ(g_retries, (std::vector<bool>{false, true}));
        EXPECT_TRUE(Logged(CancelLine()));
        EXPECT_TRUE(OnlyRefused(facts_, tag));
        // A refused password is never remembered, whatever the box said.
        EXPECT_EQ(Remembered(facts_.Target()), L"");
        // Cancelled once, not asked again in this run.
        EXPECT_FALSE(transport.run(facts_, dltest::Tag(L"after"), folder_).ok);
        EXPECT_EQ(g_retries.size(), 2u);
    }
    EXPECT_EQ(core::TransferDownloadError(utils::kCredentialsCancelledHr), NoNetwork);
}

TEST_F(ProxyAuthTest, PromptIsBoundedWhenEveryAnswerIsRefused) {
    for (int i = 0; i < utils::kMaxCredentialPrompts + 2; ++i)
        g_answers.push_back({true, facts_.user, L"wrong" + std::to_wstring(i), false});
    EXPECT_FALSE(kTransports[0].run(facts_, dltest::Tag(L"bounded"), folder_).ok);
    EXPECT_EQ(g_retries.size(), static_cast<size_t>(utils::kMaxCredentialPrompts));
}

TEST_F(ProxyAuthTest, PasswordIsInNoLogLineRegistryValueOrFile) {
    g_answers.push_back({true, facts_.user, facts_.password, true});
    for (const Transport& transport : kTransports)
        EXPECT_TRUE(transport.run(facts_, dltest::Tag(L"secret"), folder_).ok) << transport.name;
    ASSERT_EQ(Remembered(facts_.Target()), facts_.password);
    {
        utils::ScopedLock lock(g_linesLock);
        ASSERT_FALSE(g_lines.empty());
        for (const std::wstring& line : g_lines) {
            EXPECT_EQ(line.find(facts_.password), std::wstring::npos) << dltest::Narrow(line);
            EXPECT_EQ(line.find(facts_.user), std::wstring::npos) << dltest::Narrow(line);
        }
    }
    // The store keeps it encrypted; nothing else keeps it at all.
    std::vector<std::wstring> found;
    FindInRegistry(HKEY_CURRENT_USER, L"HKCU", facts_.password, found);
    for (const std::wstring& where : found) ADD_FAILURE() << dltest::Narrow(where);
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileW((folder_ / L"*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string bytes;
            if (!testsupport::ReadFileBytes(folder_ / entry.cFileName, bytes)) continue;
            EXPECT_FALSE(Contains(bytes, dltest::Narrow(facts_.password))) << dltest::Narrow(entry.cFileName);
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
}

TEST(AuthTargets, NamesAreHostAndPortOfTheProxyForTheSchemeOrOfTheServer) {
    const struct {
        const wchar_t* list;
        const wchar_t* scheme;
        const wchar_t* target;
    } proxies[] = {
        {L"127.0.0.1:3128", L"https", L"127.0.0.1:3128"},
        {L"Proxy.Example:8080", L"http", L"proxy.example:8080"},
        {L"http://proxy.example", L"http", L"proxy.example:80"},
        {L"http=a:1;https=b:2", L"https", L"b:2"},
        {L"http=a:1 https=b:2", L"http", L"a:1"},
        {L"ftp=a:1;c:3", L"https", L"c:3"},
        {L"http=a:1", L"https", L""},
        {L"[::1]:8080", L"http", L"[::1]:8080"},
        {L"", L"http", L""},
    };
    for (const auto& c : proxies)
        EXPECT_EQ(utils::ProxyTargetFor(c.list, c.scheme), c.target) << dltest::Narrow(c.list);
    const struct {
        const wchar_t* url;
        const wchar_t* target;
    } servers[] = {
        {L"https://Files.Example/a?b", L"files.example:443"},
        {L"http://user:pw@files.example:81/a", L"files.example:81"},
        {L"http://files.example", L"files.example:80"},
        {L"ftp://files.example/a", L""},
        {L"files.example/a", L""},
    };
    for (const auto& c : servers) EXPECT_EQ(utils::UrlTarget(c.url), c.target) << dltest::Narrow(c.url);
}

} // namespace
