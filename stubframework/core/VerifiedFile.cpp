#include "stubframework/core/VerifiedFile.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/ReleaseGuard.h"
#include "stubframework/utils/Paths.h"

#include <algorithm>

namespace stubframework { namespace core {

namespace {

constexpr DWORD kMaxSignatureBytes = 4096;
constexpr DWORD kMaxMetaBytes = 64u << 20;    // metadata of a 3 TiB file

// Shared for reading only: nobody may write, rename or delete the file while it is held.
utils::ScopedFileHandle OpenHeld(const std::wstring& path) {
    return utils::ScopedFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

std::wstring SignaturePathOf(const std::wstring& path) { return path + L".sig"; }
std::wstring MetaPathOf(const std::wstring& path) { return path + L".meta"; }
std::wstring MetaSignaturePathOf(const std::wstring& path) { return path + L".meta.sig"; }

void LogSignatureRefusal(StubApplication& app, const std::wstring& what, SignatureVerdict verdict) {
    WriteErrorLog(&app, L"Signature refused for %s: %s", what.c_str(), SignatureVerdictText(verdict));
}

bool FetchSignature(const std::wstring& url, std::vector<uint8_t>& signature, downloader::MemoryFetch* how) {
    signature.clear();
    return downloader::DownloadToMemory(url.c_str(), signature, kMaxSignatureBytes, how) && !signature.empty();
}

downloader::MetaCheck MetaSignatureCheck::Check() {
    return [this](const uint8_t* data, size_t size) -> long {
        if (!SignaturesRequired()) return S_OK;
        // A retry usually brings the same metadata: its signature was checked already.
        if (!signature_.empty() && meta_.size() == size && std::equal(meta_.begin(), meta_.end(), data)) return S_OK;
        std::vector<uint8_t> signature;
        downloader::MemoryFetch how;
        const bool found = FetchSignature(signatureUrl_, signature, &how);
        // A move from https to http is no missing signature: the download ends on it at once.
        if (!found && how.result == downloader::kRefusedRedirectHr) return how.result;
        const SignatureVerdict verdict = CheckSignedBytes(data, size, found ? &signature : nullptr);
        if (verdict != SignatureVerdict::Good) {
            LogSignatureRefusal(app_, label_, verdict);
            return kSignatureRefusedHr;
        }
        meta_.assign(data, data + size);
        signature_ = std::move(signature);
        return S_OK;
    };
}

bool MetaSignatureCheck::SaveMetaCompanions(const std::wstring& path) const {
    if (!SignaturesRequired()) return true;
    ::DeleteFileW(SignaturePathOf(path).c_str());
    return utils::WriteFileBytes(MetaPathOf(path), meta_) && utils::WriteFileBytes(MetaSignaturePathOf(path), signature_);
}

ResultCode AcceptPlainDownload(StubApplication& app, const std::wstring& signatureUrl,
                               const std::vector<uint8_t>* signature, const std::wstring& temporary,
                               const std::wstring& path) {
    if (SignaturesRequired()) {
        utils::ScopedFileHandle held = OpenHeld(temporary);
        const SignatureVerdict verdict = held ? CheckSignedFile(held.Get(), signature) : SignatureVerdict::Missing;
        if (verdict != SignatureVerdict::Good) {
            LogSignatureRefusal(app, signatureUrl, verdict);
            held.Reset();
            ::DeleteFileW(temporary.c_str());
            return Md5Error;
        }
    }
    if (!::MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        WriteErrorLog(&app, L"Moving %s to %s failed with %u", temporary.c_str(), path.c_str(),
                      static_cast<unsigned>(::GetLastError()));
        ::DeleteFileW(temporary.c_str());
        return Failure;
    }
    if (SignaturesRequired()) {
        ::DeleteFileW(MetaPathOf(path).c_str());
        ::DeleteFileW(MetaSignaturePathOf(path).c_str());
        if (!utils::WriteFileBytes(SignaturePathOf(path), *signature)) return Failure;
    }
    return NoError;
}

bool OpenVerifiedFile(StubApplication* app, const std::wstring& path, utils::ScopedFileHandle& held,
                      bool logRefusal) {
    held = OpenHeld(path);
    if (!held) {
        if (logRefusal) WriteErrorLog(app, L"Opening %s failed with %u", path.c_str(), static_cast<unsigned>(::GetLastError()));
        return false;
    }
    if (!SignaturesRequired()) return true;
    std::vector<uint8_t> signature, meta;
    SignatureVerdict verdict = SignatureVerdict::Missing;
    if (utils::ReadFileBytes(SignaturePathOf(path), kMaxSignatureBytes, signature)) {
        verdict = CheckSignedFile(held.Get(), &signature);
    } else if (utils::ReadFileBytes(MetaSignaturePathOf(path), kMaxSignatureBytes, signature)) {
        verdict = utils::ReadFileBytes(MetaPathOf(path), kMaxMetaBytes, meta)
                      ? CheckSignedBytes(meta.data(), meta.size(), &signature)
                      : SignatureVerdict::Missing;
        if (verdict == SignatureVerdict::Good &&
            downloader::CheckFileHandleWithMeta(held.Get(), meta).outcome != downloader::FileCheck::Match) {
            if (logRefusal) WriteErrorLog(app, L"Signature refused for %s: the file differs from its signed metadata", path.c_str());
            held.Reset();
            return false;
        }
    }
    if (verdict != SignatureVerdict::Good) {
        if (logRefusal) WriteErrorLog(app, L"Signature refused for %s: %s", path.c_str(), SignatureVerdictText(verdict));
        held.Reset();
        return false;
    }
    if (app && !IsReleaseContent(*app, held.Get(), path, logRefusal)) held.Reset();
    return held.IsValid();
}

}} // namespace stubframework::core
