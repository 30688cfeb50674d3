#include "stubframework/core/VerifiedFile.h"

#include "StubCore/StubApplication.h"

namespace stubframework { namespace core {

namespace {

constexpr DWORD kMaxSignatureBytes = 4096;
constexpr DWORD kMaxMetaBytes = 64u << 20;    // metadata of a 3 TiB file

bool ReadSmallFile(const std::wstring& path, DWORD limit, std::vector<uint8_t>& bytes) {
    utils::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart > limit) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    return bytes.empty() || (::ReadFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) &&
                             read == bytes.size());
}

bool WriteWholeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    utils::ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

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

bool FetchSignature(const std::wstring& url, std::vector<uint8_t>& signature) {
    signature.clear();
    return downloader::DownloadToMemory(url.c_str(), signature) && !signature.empty() &&
           signature.size() <= kMaxSignatureBytes;
}

downloader::MetaCheck MetaSignatureCheck::Check() {
    return [this](const uint8_t* data, size_t size) -> long {
        if (!SignaturesRequired()) return S_OK;
        std::vector<uint8_t> signature;
        const bool found = FetchSignature(signatureUrl_, signature);
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
    return WriteWholeFile(MetaPathOf(path), meta_) && WriteWholeFile(MetaSignaturePathOf(path), signature_);
}

ResultCode AcceptPlainDownload(StubApplication& app, const std::wstring& signatureUrl, const std::wstring& temporary,
                               const std::wstring& path) {
    std::vector<uint8_t> signature;
    if (SignaturesRequired()) {
        const bool found = FetchSignature(signatureUrl, signature);
        utils::ScopedFileHandle held = OpenHeld(temporary);
        const SignatureVerdict verdict =
            held ? CheckSignedFile(held.Get(), found ? &signature : nullptr) : SignatureVerdict::Missing;
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
        if (!WriteWholeFile(SignaturePathOf(path), signature)) return Failure;
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
    if (ReadSmallFile(SignaturePathOf(path), kMaxSignatureBytes, signature)) {
        verdict = CheckSignedFile(held.Get(), &signature);
    } else if (ReadSmallFile(MetaSignaturePathOf(path), kMaxSignatureBytes, signature)) {
        verdict = ReadSmallFile(MetaPathOf(path), kMaxMetaBytes, meta)
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
    return true;
}

}} // namespace stubframework::core
