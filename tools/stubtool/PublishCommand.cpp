// stubtool publish: a whole release from the publisher's folder in one step. Every file the
// installer list names gets its ".meta", its size and SHA-256 go into the list's entries and
// into the release manifest at the list's start with the next serial, and the list, every file
// and every ".meta" get their signatures. Everything is computed and checked as the stub will
// check it before the first byte is written; then all goes to temporary names and is moved into
// place, so a refusal leaves the folder as it was.
#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "stubframework/core/ContentSignature.h"
#include "stubframework/core/ReleaseManifest.h"
#include "stubframework/core/ReportDocuments.h"
#include "stubframework/utils/CommandLine.h"
#include "stubframework/utils/Ecdsa.h"
#include "stubframework/utils/Handle.h"
#include "stubframework/utils/Paths.h"
#include "stubframework/utils/SignatureFormat.h"
#include "stubframework/utils/WideFormat.h"
#include "tools/stubtool/Commands.h"
#include "tools/stubtool/Console.h"
#include "tools/stubtool/ReleaseList.h"

namespace stubtool {

namespace {

namespace utils = stubframework::utils;
namespace core = stubframework::core;
using utils::FormatWide;

const wchar_t kTemporarySuffix[] = L".publishing";

struct Options {
    std::wstring key;
    std::wstring base;                              // URL or path; empty: found from the folder
    std::wstring list = L"installerlistTDR22.js";
    std::wstring product = L"Tandora";
    bool productGiven = false;
    std::vector<std::wstring> mirrors;              // "BASE=ALTERNATE"; none: the list's own kept
    std::wstring folder;                            // with a trailing separator
    char separator = '\\';                          // "/" for a Linux path
};

// "--name VALUE" or "--name=VALUE"; false for a name without its value.
bool TakeOption(Arguments& arguments, const std::wstring& name, std::wstring& value, bool& given) {
    for (auto it = arguments.begin(); it != arguments.end(); ++it) {
        if (*it == name) {
            if (it + 1 == arguments.end()) return false;
            value = *(it + 1);
            arguments.erase(it, it + 2);
            given = true;
            return true;
        }
        if (it->compare(0, name.size() + 1, name + L"=") == 0) {
            value = it->substr(name.size() + 1);
            arguments.erase(it);
            given = true;
            return true;
        }
    }
    return true;
}

bool ParseOptions(const Arguments& given, Options& options) {
    Arguments arguments = given;
    bool keyGiven = false, baseGiven = false, listGiven = false;
    if (!TakeOption(arguments, L"--key", options.key, keyGiven) ||
        !TakeOption(arguments, L"--base", options.base, baseGiven) ||
        !TakeOption(arguments, L"--list", options.list, listGiven) ||
        !TakeOption(arguments, L"--product", options.product, options.productGiven) || !keyGiven)
        return false;
    for (bool more = true; more;) {
        std::wstring mirror;
        more = false;
        if (!TakeOption(arguments, L"--mirror", mirror, more)) return false;
        if (more) options.mirrors.push_back(mirror);
    }
    if (arguments.size() != 1) return false;
    options.folder = arguments[0];
    // A Linux path stays one: the files' paths use the separator the folder's path uses.
    if (options.folder.find(L'\\') == std::wstring::npos && options.folder.find(L'/') != std::wstring::npos)
        options.separator = '/';
    if (!options.folder.empty() && options.folder.back() != L'\\' && options.folder.back() != L'/')
        options.folder += static_cast<wchar_t>(options.separator);
    return true;
}

std::string Narrow(const std::wstring& text) { return stubframework::core::ToUtf8(text); }
std::wstring Wide(const std::string& text) { return stubframework::core::FromUtf8(text); }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The decoded segments of a URL's path; false with reason when a segment could lead out of the
// folder or the URL carries a query (the ".meta" is fetched at URL + ".meta").
bool PathSegments(const std::string& url, std::vector<std::string>& segments, std::string& reason) {
    segments.clear();
    const size_t scheme = url.find("://");
    const size_t slash = scheme == std::string::npos ? std::string::npos : url.find('/', scheme + 3);
    reason = url.find_first_of("?#") != std::string::npos ? "it carries a query or a fragment"
             : slash == std::string::npos                 ? "it names no file"
                                                          : "";
    if (!reason.empty()) return false;
    std::string segment;
    for (size_t i = slash + 1; i <= url.size(); ++i) {
        if (i == url.size() || url[i] == '/') {
            if (segment.empty() || segment == "." || segment == ".." ||
                segment.find_first_of("\\:") != std::string::npos) {
                reason = "its path has an empty, \".\", \"..\" or Windows-only segment";
                return false;
            }
            segments.push_back(segment);
            segment.clear();
        } else if (url[i] == '%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 && HexValue(url[i + 2]) >= 0) {
            segment += static_cast<char>(HexValue(url[i + 1]) * 16 + HexValue(url[i + 2]));
            i += 2;
        } else {
            segment += url[i];
        }
    }
    return true;
}

std::string Join(const std::vector<std::string>& segments, size_t from, size_t to, char separator) {
    std::string joined;
    for (size_t i = from; i < to; ++i) joined += (i > from ? std::string(1, separator) : std::string()) + segments[i];
    return joined;
}

bool IsPlainFile(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// The folders of the URL path ("/a/b/") below which the folder holds the URL's file.
std::set<std::string> BasesFor(const std::vector<std::string>& segments, const Options& options) {
    std::set<std::string> bases;
    for (size_t k = 0; k < segments.size(); ++k) {
        if (IsPlainFile(options.folder + Wide(Join(segments, k, segments.size(), options.separator))))
            bases.insert("/" + Join(segments, 0, k, '/') + (k > 0 ? "/" : ""));
    }
    return bases;
}

// The base given as a URL or a path, as "/a/b/".
std::string BasePath(const std::wstring& given) {
    std::string base = Narrow(given);
    const size_t scheme = base.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = base.find('/', scheme + 3);
        base = slash == std::string::npos ? "/" : base.substr(slash);
    }
    if (base.empty() || base[0] != '/') base = "/" + base;
    if (base.back() != '/') base += '/';
    return base;
}

struct LocalFile {
    std::wstring path;
    uint64_t size = 0;
    utils::Sha256Digest digest{};
    std::vector<uint8_t> meta;
    utils::Sha256Digest metaDigest{};
};

bool Measure(LocalFile& file) {
    utils::ScopedFileHandle handle(::CreateFileW(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {}, start = {};
    // Both passes read from the start of the file.
    if (!handle || !::GetFileSizeEx(handle.Get(), &size) || !utils::Sha256OfFile(handle.Get(), file.digest) ||
        !::SetFilePointerEx(handle.Get(), start, nullptr, FILE_BEGIN) || !BuildMeta(handle.Get(), size.QuadPart, file.meta) ||
        !utils::Sha256Of(file.meta.data(), file.meta.size(), file.metaDigest))
        return false;
    file.size = static_cast<uint64_t>(size.QuadPart);
    return true;
}

class Signer {
public:
    Signer(const utils::EcScalar& secret, const utils::EcPoint& point) : secret_(secret), point_(point) {}
    ~Signer() { ::SecureZeroMemory(secret_.data(), secret_.size()); }
    // The DER signature over digest, checked with the public point before it is handed out.
    bool Sign(const utils::Sha256Digest& digest, std::vector<uint8_t>& der) const {
        utils::EcSignature rs;
        if (!utils::SignP256(secret_, point_, digest, rs) || utils::VerifyP256(point_, digest, rs) != 0) return false;
        der = utils::EncodeEcdsaSignature(rs);
        return true;
    }
    std::vector<uint8_t> PublicDer() const { return utils::EncodeEcPublicKey(point_); }
private:
    utils::EcScalar secret_;
    utils::EcPoint point_;
};

struct Output {
    std::wstring path;
    std::vector<uint8_t> bytes;
};

void RemoveTemporaries(const std::vector<Output>& outputs) {
    for (const Output& output : outputs) ::DeleteFileW((output.path + kTemporarySuffix).c_str());
}

bool WriteTemporaries(const std::vector<Output>& outputs) {
    for (const Output& output : outputs) {
        if (!utils::WriteFileBytes(output.path + kTemporarySuffix, output.bytes)) {
            PrintError(FormatWide(L"cannot write %s%s (error %lu)", output.path.c_str(), kTemporarySuffix, ::GetLastError()));
            RemoveTemporaries(outputs);
            return false;
        }
    }
    return true;
}

// Every output into place, or none: what stood there first is kept aside until all have moved,
// and put back when one cannot, so the folder is never left half-published.
bool MoveIntoPlace(const std::vector<Output>& outputs) {
    const std::wstring aside = L".before-publish";
    std::vector<bool> kept(outputs.size(), false), moved(outputs.size(), false);
    DWORD error = ERROR_SUCCESS;
    size_t failed = outputs.size();
    for (size_t i = 0; i < outputs.size() && failed == outputs.size(); ++i) {
        const std::wstring& path = outputs[i].path;
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (!::MoveFileExW(path.c_str(), (path + aside).c_str(), MOVEFILE_REPLACE_EXISTING)) {
                error = ::GetLastError();
                failed = i;
                break;
            }
            kept[i] = true;
        }
        if (!::MoveFileExW((path + kTemporarySuffix).c_str(), path.c_str(), 0)) {
            error = ::GetLastError();
            failed = i;
            break;
        }
        moved[i] = true;
    }
    if (failed == outputs.size()) {
        for (size_t i = 0; i < outputs.size(); ++i)
            if (kept[i]) ::DeleteFileW((outputs[i].path + aside).c_str());
        return true;
    }
    bool restored = true;
    for (size_t i = 0; i < outputs.size(); ++i) {
        const std::wstring& path = outputs[i].path;
        if (moved[i]) restored = ::DeleteFileW(path.c_str()) && restored;
        if (kept[i]) restored = ::MoveFileExW((path + aside).c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) && restored;
    }
    RemoveTemporaries(outputs);
    PrintError(FormatWide(restored ? L"moving %s into place failed (error %lu); the folder is as it was"
                                   : L"moving %s into place failed (error %lu), and putting the earlier files back "
                                     L"failed too: see the files ending in .before-publish",
                          outputs[failed].path.c_str(), error));
    return false;
}

int Refuse(const std::wstring& text) {
    PrintError(L"publish refused: " + text + L"; nothing was written");
    return kExitFailed;
}

// The entries' values as the filled text states them, for the check after filling.
bool EntryHolds(const std::string& text, const ListEntry& entry, const EntryFacts& facts) {
    return entry.sizeEnd != 0 && entry.shaEnd != 0 &&
           text.substr(entry.sizeStart, entry.sizeEnd - entry.sizeStart) == std::to_string(facts.size) &&
           text.substr(entry.shaStart, entry.shaEnd - entry.shaStart) == "\"" + facts.sha256 + "\"";
}

std::string Hex(const utils::Sha256Digest& digest) { return utils::HexText(digest.data(), digest.size()); }

} // namespace

int RunPublish(const Arguments& arguments) {
    Options options;
    if (!ParseOptions(arguments, options)) {
        PrintError(L"usage: stubtool publish --key PRIVATE [--base URL] [--list NAME] [--product NAME] "
                   L"[--mirror BASE=ALTERNATE]... FOLDER");
        return kExitUsage;
    }
    utils::EcScalar secret;
    utils::EcPoint point;
    if (!ReadPrivateKey(options.key, secret, point)) return kExitFailed;
    const Signer signer(secret, point);
    ::SecureZeroMemory(secret.data(), secret.size());

    // The list and the release it continues.
    const std::wstring listPath = options.folder + options.list;
    std::vector<uint8_t> listBytes;
    if (!ReadWholeFile(listPath, listBytes)) return Refuse(L"cannot read the list " + listPath);
    if (listBytes.size() >= 3 && listBytes[0] == 0xEF && listBytes[1] == 0xBB && listBytes[2] == 0xBF)
        return Refuse(listPath + L" begins with a byte order mark: the release manifest must be its first bytes");
    core::ReleaseManifest previous;
    std::string error;
    if (core::StartsWithManifest(listBytes.data(), listBytes.size())) {
        if (!core::ParseReleaseManifest(listBytes.data(), listBytes.size(), previous, error))
            return Refuse(listPath + L": " + Wide(error));
        if (options.productGiven && Wide(previous.product) != options.product)
            return Refuse(listPath + L" is a release of " + Wide(previous.product) + L", not " + options.product);
        options.product = Wide(previous.product);
    }
    if (previous.serial == UINT64_MAX) return Refuse(listPath + L": its serial cannot grow");
    const std::string script(listBytes.begin() + static_cast<std::ptrdiff_t>(previous.end), listBytes.end());
    std::vector<ListEntry> entries;
    if (!FindListEntries(script, entries, error)) return Refuse(listPath + L" after the manifest: " + Wide(error));

    // Each URL's file in the folder: the URL's path below one base folder of all of them.
    std::vector<std::vector<std::string>> segments(entries.size());
    std::set<std::string> common;
    const std::string forcedBase = options.base.empty() ? std::string() : BasePath(options.base);
    for (size_t n = 0; n < entries.size(); ++n) {
        std::string reason;
        if (!PathSegments(entries[n].url, segments[n], reason))
            return Refuse(L"the list names " + Wide(entries[n].url) + L": " + Wide(reason));
        const std::string path = "/" + Join(segments[n], 0, segments[n].size(), '/');
        if (!forcedBase.empty()) {
            if (path.compare(0, forcedBase.size(), forcedBase) != 0)
                return Refuse(L"the list names " + Wide(entries[n].url) + L", which is not below " + Wide(forcedBase));
            continue;
        }
        const std::set<std::string> bases = BasesFor(segments[n], options);
        if (bases.empty())
            return Refuse(L"the list names " + Wide(entries[n].url) + L", but " + options.folder +
                          L" holds no file that ends its path (" + Wide(segments[n].back()) + L" is missing)");
        if (n == 0) {
            common = bases;
        } else {
            std::set<std::string> both;
            std::set_intersection(common.begin(), common.end(), bases.begin(), bases.end(), std::inserter(both, both.end()));
            common.swap(both);
        }
    }
    std::string base = forcedBase;
    if (base.empty() && !entries.empty()) {
        if (common.size() != 1)
            return Refuse(common.empty() ? L"the list's files are not below one folder of their URLs; give --base URL"
                                         : L"the list's files fit below more than one folder of their URLs; give --base URL");
        base = *common.begin();
    }
    std::map<std::wstring, LocalFile> locals;    // by path
    std::vector<std::wstring> localOf(entries.size());
    for (size_t n = 0; n < entries.size(); ++n) {
        const size_t depth = static_cast<size_t>(std::count(base.begin(), base.end(), '/')) - 1;
        localOf[n] = options.folder + Wide(Join(segments[n], depth, segments[n].size(), options.separator));
        if (!IsPlainFile(localOf[n]))
            return Refuse(L"the list names " + Wide(entries[n].url) + L", but " + localOf[n] + L" is missing");
        if (utils::EqualsNoCase(localOf[n], listPath))
            return Refuse(L"the list names itself: " + Wide(entries[n].url));
        LocalFile& file = locals[localOf[n]];
        if (file.path.empty()) {
            file.path = localOf[n];
            if (!Measure(file)) return Refuse(L"cannot read " + file.path);
        }
    }

    // The release: the manifest lists every file and its ".meta"; the entries carry the same.
    core::ReleaseManifest release;
    release.product = Narrow(options.product);
    release.serial = previous.serial + 1;
    // Mirrors given replace the list's; the parse of the finished list below judges them.
    release.mirrors = previous.mirrors;
    if (!options.mirrors.empty()) release.mirrors.clear();
    for (const std::wstring& mirror : options.mirrors) {
        const size_t split = mirror.find(L'=');
        if (split == std::wstring::npos) return Refuse(L"--mirror " + mirror + L": expected BASE=ALTERNATE");
        release.mirrors.push_back(core::ReleaseMirror{Narrow(mirror.substr(0, split)), Narrow(mirror.substr(split + 1))});
    }
    std::set<std::string> listed;
    std::vector<EntryFacts> facts;
    for (size_t n = 0; n < entries.size(); ++n) {
        const LocalFile& file = locals[localOf[n]];
        facts.push_back(EntryFacts{file.size, Hex(file.digest)});
        if (!listed.insert(entries[n].url).second) continue;
        core::ReleaseFile whole, meta;
        whole.url = entries[n].url;
        whole.size = file.size;
        whole.sha256 = file.digest;
        meta.url = entries[n].url + ".meta";
        meta.size = file.meta.size();
        meta.sha256 = file.metaDigest;
        release.files.push_back(whole);
        release.files.push_back(meta);
    }
    const std::string filled = FillListEntries(script, entries, facts);
    const std::string newList = core::FormatReleaseManifest(release) + filled;

    // The stub's own reading of the result, before anything is written.
    core::ReleaseManifest reread;
    std::vector<ListEntry> refilled;
    if (!core::ParseReleaseManifest(reinterpret_cast<const uint8_t*>(newList.data()), newList.size(), reread, error))
        return Refuse(L"the stub would refuse the new list: " + Wide(error));
    if (reread.product != release.product || reread.serial != release.serial || reread.files.size() != release.files.size())
        return Refuse(L"the new list's manifest does not read back as written");
    if (!FindListEntries(newList.substr(reread.end), refilled, error) || refilled.size() != entries.size())
        return Refuse(L"the new list's entries do not read back: " + Wide(error));
    for (size_t n = 0; n < refilled.size(); ++n)
        if (!EntryHolds(newList.substr(reread.end), refilled[n], facts[n]))
            return Refuse(L"the entry of " + Wide(entries[n].url) + L" does not read back as filled");

    // Companions of every file, signed and checked against the public key.
    std::vector<Output> outputs;
    for (const auto& pair : locals) {
        const LocalFile& file = pair.second;
        Output meta{file.path + L".meta", file.meta}, sig{file.path + L".sig", {}}, metaSig{file.path + L".meta.sig", {}};
        if (!signer.Sign(file.digest, sig.bytes) || !signer.Sign(file.metaDigest, metaSig.bytes))
            return Refuse(L"CNG could not sign " + file.path);
        outputs.push_back(meta);
        outputs.push_back(sig);
        outputs.push_back(metaSig);
    }
    // The list: written first, then measured like every other file for its own companions.
    Output list{listPath, std::vector<uint8_t>(newList.begin(), newList.end())};
    if (!WriteTemporaries({list})) return kExitFailed;
    LocalFile listFile;
    listFile.path = listPath + kTemporarySuffix;
    Output listMeta{listPath + L".meta", {}}, listSig{listPath + L".sig", {}}, listMetaSig{listPath + L".meta.sig", {}};
    if (!Measure(listFile) || !signer.Sign(listFile.digest, listSig.bytes) ||
        !signer.Sign(listFile.metaDigest, listMetaSig.bytes)) {
        RemoveTemporaries({list});
        return Refuse(L"cannot measure or sign the new list");
    }
    listMeta.bytes = listFile.meta;
    // The list goes into place after its files' companions and before its own: whatever a
    // failed move leaves, no list stands beside a signature that would pass it.
    outputs.push_back(list);
    outputs.push_back(listMeta);
    outputs.push_back(listSig);
    outputs.push_back(listMetaSig);
    std::vector<Output> rest(outputs);
    rest.erase(rest.end() - 4);
    if (!WriteTemporaries(rest)) {
        RemoveTemporaries({list});
        return kExitFailed;
    }
    if (!MoveIntoPlace(outputs)) return kExitFailed;

    for (const auto& pair : locals)
        PrintLine(FormatWide(L"published %s: %llu bytes, SHA-256 %S", pair.first.c_str(), pair.second.size,
                             Hex(pair.second.digest).c_str()));
    const std::vector<uint8_t> publicDer = signer.PublicDer();
    PrintLine(FormatWide(L"release %llu of %s: %Iu files, list %s, signed with key %s", release.serial,
                         options.product.c_str(), locals.size(), listPath.c_str(),
                         core::KeyIdOf(publicDer.data(), publicDer.size()).c_str()));
    if (core::SignaturesRequired() &&
        core::CheckSignedBytes(list.bytes.data(), list.bytes.size(), &outputs[outputs.size() - 2].bytes) !=
            core::SignatureVerdict::Good)
        PrintLine(L"note: the key is not one this build's stub trusts (" + core::PublisherKeyIds() + L")");
    return kExitOk;
}

} // namespace stubtool
