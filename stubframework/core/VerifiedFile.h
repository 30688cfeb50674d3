// Files from the network that the stub acts on only when the publisher signed them: fetching
// signature companions, judging them, and opening a downloaded file for its use so that it
// cannot change between the check and the use.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "stubframework/StubFramework.h"
#include "stubframework/core/ContentSignature.h"
#include "stubframework/utils/Handle.h"

namespace stubframework {

class StubApplication;

namespace core {

// The failure a refused signature ends a download with (NTE_BAD_SIGNATURE).
constexpr long kSignatureRefusedHr = static_cast<long>(0x80090006);

// Companions kept beside a downloaded file: the whole file's signature (plain downloads), or
// the signed metadata (resumable ones). A later use, in this run or after a reboot, checks
// them again; they are input like the file itself, trusted only through the signature.
std::wstring SignaturePathOf(const std::wstring& path);        // path + ".sig"
std::wstring MetaPathOf(const std::wstring& path);             // path + ".meta"
std::wstring MetaSignaturePathOf(const std::wstring& path);    // path + ".meta.sig"

// The signed companions of a file: the whole file's signature, or the signed metadata.
struct Companions {
    std::vector<uint8_t> signature;        // ".sig"
    std::vector<uint8_t> meta;             // ".meta"
    std::vector<uint8_t> metaSignature;    // ".meta.sig"
    bool whole = false;                    // the ".sig" kind
};
// Reads the companions beside path: ".sig" when it is there, else the metadata and its
// signature. False when neither kind can be read whole.
bool ReadCompanions(const std::wstring& path, Companions& companions);
// Writes companions beside path on the ground, and removes the other kind's there.
bool WriteCompanions(const std::wstring& path, const Companions& companions);

// "Signature refused for WHAT: REASON" in the error log.
void LogSignatureRefusal(StubApplication& app, const std::wstring& what, SignatureVerdict verdict);

// Fetches a signature companion; false when it cannot be had (reported as missing). One longer
// than a signature can be is refused while it is read. how (when given) says how the fetch ended.
bool FetchSignature(const std::wstring& url, std::vector<uint8_t>& signature,
                    downloader::MemoryFetch* how = nullptr);

// The resumable download's check of its metadata: accepts only bytes that signature (fetched
// from signatureUrl on first use) signs, and keeps them for SaveMetaCompanions.
class MetaSignatureCheck {
public:
    MetaSignatureCheck(StubApplication& app, std::wstring signatureUrl, std::wstring label)
        : app_(app), signatureUrl_(std::move(signatureUrl)), label_(std::move(label)) {}
    downloader::MetaCheck Check();
    // Writes the accepted metadata and its signature beside path.
    bool SaveMetaCompanions(const std::wstring& path) const;
private:
    StubApplication& app_;
    std::wstring signatureUrl_;
    std::wstring label_;
    std::vector<uint8_t> meta_;
    std::vector<uint8_t> signature_;
};

// A plain download at temporary is checked against signature (fetched from signatureUrl; null
// when none could be had) and, when it holds, takes path's place with its signature beside it.
// Otherwise temporary is removed, path keeps what it had, and the result is Md5Error.
ResultCode AcceptPlainDownload(StubApplication& app, const std::wstring& signatureUrl,
                               const std::vector<uint8_t>* signature, const std::wstring& temporary,
                               const std::wstring& path);

// Opens path for reading with write and delete sharing denied and checks it against the signed
// companions beside it; held keeps it open so that what is used is what was checked. Without
// a publisher key it only opens the file. False when the file cannot be trusted, logged when
// logRefusal (app may be null: the launcher has none).
bool OpenVerifiedFile(StubApplication* app, const std::wstring& path, utils::ScopedFileHandle& held,
                      bool logRefusal = true);
inline bool OpenVerifiedFile(StubApplication& app, const std::wstring& path, utils::ScopedFileHandle& held,
                             bool logRefusal = true) {
    return OpenVerifiedFile(&app, path, held, logRefusal);
}

// Copies source (anywhere: it is input) to target on the ground in one read that hashes the
// bytes as they are copied, and keeps the copy only when the companions beside source sign
// exactly those bytes; target gets the companions too and held gets target as OpenVerifiedFile
// opens it. Without a publisher key the copy is kept as it is. False, logged, otherwise.
bool CopyInVerified(StubApplication& app, const std::wstring& source, const std::wstring& target,
                    utils::ScopedFileHandle& held);

// For tests: called between the check of what an installer, unpacker or the user's copy is
// given and its use, with the path the page named (the moment a swap would be attempted).
using CheckUseHook = void (*)(const std::wstring& pagePath);
void SetCheckUseHookForTesting(CheckUseHook hook);
void AtCheckUse(const std::wstring& pagePath);

}} // namespace stubframework::core
