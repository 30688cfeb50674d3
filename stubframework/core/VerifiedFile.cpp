#include "stubframework/core/VerifiedFile.h"

#include "StubCore/StubApplication.h"
#include "stubframework/core/ReleaseGuard.h"
#include "downloader/BlockDigest.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/FileHandles.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/PrivateFolder.h"

#include <algorithm>
#include <memory>

namespace stubframework { namespace core {

namespace {

constexpr DWORD kMaxSignatureBytes = 4096;
constexpr DWORD kMaxMetaBytes = 64u << 20;    // metadata of a 3 TiB file

CheckUseHook g_checkUseHook = nullptr;

// Shared for reading only: nobody may write, rename or delete the file while it is held.
utils::ScopedFileHandle OpenHeld(const std::wstring& path) {
    return utils::ScopedFileHandle(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Reads until size bytes are in or the file ends; got says how many arrived.
bool ReadFull(HANDLE file, uint8_t* buffer, DWORD size, DWORD& got) {
    got = 0;
    while (got < size) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer + got, size - got, &read, nullptr)) return false;
        if (read == 0) break;
        got += read;
    }
    return true;
}

// The verdict on the bytes copied from source to copy, hashed on the way: against the whole
// file's signature, or block by block against the signed metadata.
// differs: the metadata holds and the bytes are not the ones it describes.
SignatureVerdict CopyHashed(HANDLE source, HANDLE copy, const Companions& companions, bool& differs) {
    differs = false;
    downloader::DownloadMetaSimple meta;
    if (!companions.whole) {
        const SignatureVerdict metaVerdict =
            CheckSignedBytes(companions.meta.data(), companions.meta.size(), &companions.metaSignature);
        if (metaVerdict != SignatureVerdict::Good) return metaVerdict;
        if (!downloader::CreateDownloadMetaSimple(companions.meta, &meta)) return SignatureVerdict::BadFormat;
    }
    const auto buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(downloader::kBlockSize));
    utils::Sha256 whole;
    downloader::BlockDigest blocks;
    uint64_t block = 0;
    int64_t total = 0;
    bool matches = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFull(source, buffer.get(), static_cast<DWORD>(downloader::kBlockSize), got)) return SignatureVerdict::BadSignature;
        if (got == 0) break;
        DWORD written = 0;
        if (!::WriteFile(copy, buffer.get(), got, &written, nullptr) || written != got) return SignatureVerdict::BadSignature;
        total += got;
        if (companions.whole) {
            if (!whole.Update(buffer.get(), got)) return SignatureVerdict::BadSignature;
            continue;
        }
        downloader::BlockHash digest;
        if (block >= meta.hashes.size() || !blocks.Digest(buffer.get(), got, digest) || digest != meta.hashes[block]) {
            matches = false;
            break;
        }
        ++block;
    }
    if (!companions.whole) {
        differs = !matches || block != meta.hashes.size() || total != meta.fileSize;
        return differs ? SignatureVerdict::BadSignature : SignatureVerdict::Good;
    }
    utils::Sha256Digest digest;
    if (!whole.Finish(digest)) return SignatureVerdict::BadSignature;
    return CheckSignedDigest(digest.data(), &companions.signature);
}

} // namespace

std::wstring SignaturePathOf(const std::wstring& path) { return path + L".sig"; }
std::wstring MetaPathOf(const std::wstring& path) { return path + L".meta"; }
std::wstring MetaSignaturePathOf(const std::wstring& path) { return path + L".meta.sig"; }

bool ReadCompanions(const std::wstring& path, Companions& companions) {
    companions = Companions();
    if (utils::ReadFileBytes(SignaturePathOf(path), kMaxSignatureBytes, companions.signature)) {
        companions.whole = true;
        return true;
    }
    return utils::ReadFileBytes(MetaSignaturePathOf(path), kMaxSignatureBytes, companions.metaSignature) &&
           utils::ReadFileBytes(MetaPathOf(path), kMaxMetaBytes, companions.meta);
}

bool WriteCompanions(const std::wstring& path, const Companions& companions) {
    if (companions.whole) {
        ::DeleteFileW(MetaPathOf(path).c_str());
        ::DeleteFileW(MetaSignaturePathOf(path).c_str());
        return utils::WriteFileBytes(SignaturePathOf(path), companions.signature);
    }
    // A ".sig" left beside would be read first.
    ::DeleteFileW(SignaturePathOf(path).c_str());
    return utils::WriteFileBytes(MetaPathOf(path), companions.meta) &&
           utils::WriteFileBytes(MetaSignaturePathOf(path), companions.metaSignature);
}

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
    Companions companions;
    companions.meta = meta_;
    companions.metaSignature = signature_;
    return WriteCompanions(path, companions);
}

ResultCode AcceptPlainDownload(StubApplication& app, const std::wstring& signatureUrl,
                               const std::vector<uint8_t>* signature, const std::wstring& temporary,
                               const std::wstring& path) {
    Companions companions;
    companions.whole = true;
    if (signature) companions.signature = *signature;
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
    if (SignaturesRequired() && !WriteCompanions(path, companions)) return Failure;
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
    Companions companions;
    SignatureVerdict verdict = SignatureVerdict::Missing;
    if (ReadCompanions(path, companions)) {
        verdict = companions.whole
                      ? CheckSignedFile(held.Get(), &companions.signature)
                      : CheckSignedBytes(companions.meta.data(), companions.meta.size(), &companions.metaSignature);
        if (verdict == SignatureVerdict::Good && !companions.whole &&
            downloader::CheckFileHandleWithMeta(held.Get(), companions.meta).outcome != downloader::FileCheck::Match) {
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

bool CopyInVerified(StubApplication& app, const std::wstring& source, const std::wstring& target,
                    utils::ScopedFileHandle& held) {
    held.Reset();
    // Nobody writes the source while it is read; what it holds is judged only as it is copied.
    utils::ScopedFileHandle input(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!input) {
        WriteErrorLog(&app, L"Opening %s failed with %u", source.c_str(), static_cast<unsigned>(::GetLastError()));
        return false;
    }
    Companions companions;
    const bool signedCopy = SignaturesRequired();
    if (signedCopy && !ReadCompanions(source, companions)) {
        LogSignatureRefusal(app, source, SignatureVerdict::Missing);
        return false;
    }
    const std::wstring partial = target + L"." + utils::RandomName() + L".part";
    utils::ScopedFileHandle copy(::CreateFileW(partial.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy) {
        WriteErrorLog(&app, L"Creating %s failed with %u", partial.c_str(), static_cast<unsigned>(::GetLastError()));
        return false;
    }
    bool differs = false;
    const SignatureVerdict verdict = signedCopy ? CopyHashed(input.Get(), copy.Get(), companions, differs)
                                                : (utils::CopyHandleToHandle(input.Get(), copy.Get())
                                                       ? SignatureVerdict::Good
                                                       : SignatureVerdict::BadSignature);
    if (verdict != SignatureVerdict::Good || !utils::RenameByHandle(copy.Get(), target, true)) {
        if (differs) WriteErrorLog(&app, L"Signature refused for %s: the file differs from its signed metadata", source.c_str());
        else if (verdict != SignatureVerdict::Good) LogSignatureRefusal(app, source, verdict);
        else WriteErrorLog(&app, L"Keeping %s as %s failed with %u", source.c_str(), target.c_str(),
                           static_cast<unsigned>(::GetLastError()));
        utils::DeleteByHandle(copy.Get());
        return false;
    }
    copy.Reset();
    if (signedCopy && !WriteCompanions(target, companions)) {
        WriteErrorLog(&app, L"Keeping the companions of %s failed", target.c_str());
        return false;
    }
    held = OpenHeld(target);
    return held.IsValid();
}

void SetCheckUseHookForTesting(CheckUseHook hook) { g_checkUseHook = hook; }

void AtCheckUse(const std::wstring& pagePath) {
    if (g_checkUseHook) g_checkUseHook(pagePath);
}

}} // namespace stubframework::core
