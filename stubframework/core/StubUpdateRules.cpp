#include "stubframework/core/StubUpdateRules.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/ContentSignature.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/core/VerifiedFile.h"
#include "stubframework/utils/FileVersion.h"
#include "stubframework/utils/Paths.h"

namespace stubframework { namespace core {

bool IsSignedStubMeta(StubApplication& app, const std::wstring& url, const std::vector<uint8_t>& meta) {
    if (!SignaturesRequired()) return true;
    std::vector<uint8_t> signature;
    const bool found = FetchSignature(url + L".meta.sig", signature);
    const SignatureVerdict verdict = CheckSignedBytes(meta.data(), meta.size(), found ? &signature : nullptr);
    if (verdict != SignatureVerdict::Good) {
        LogSignatureRefusal(app, url + L".meta", verdict);
        return false;
    }
    return WithReleaseCheck(app, url, nullptr)(meta.data(), meta.size()) >= 0;
}

bool IsNewerStub(const std::wstring& candidate, const std::wstring& running, std::wstring* reason) {
    uint64_t offered = 0, current = 0;
    if (!utils::ReadExeFileVersion(candidate, offered)) {
        if (reason) *reason = L"the stub carries no version";
        return false;
    }
    utils::ReadExeFileVersion(running, current);
    if (offered > current) return true;
    if (reason)
        *reason = L"version " + utils::FileVersionText(offered) + L" is not above the running " +
                  utils::FileVersionText(current);
    return false;
}

ResultCode AcceptNewerStub(StubApplication& app, const std::wstring& url, const std::wstring& path) {
    std::wstring own, reason;
    if (!utils::GetOwnModulePath(own)) return Failure;
    if (IsNewerStub(path, own, &reason)) return NoError;
    WriteErrorLog(&app, L"Signature refused for %s: %s", url.c_str(), reason.c_str());
    return Md5Error;
}

}} // namespace stubframework::core
