// The run's release. A signature binds bytes and nothing else; the manifest of the installer
// list the pages use binds every file to its URL, size and SHA-256 and the list to its product
// and serial, so that no signed file is taken in another role or from an older release. The
// pages' list is "config\installerlistTDR22.js" in the unpacked bundle: the bundle's own until
// the list update puts an accepted one in its place. A list without a manifest there (a bundle
// that downloads a single package) leaves files to their signatures alone; without a publisher
// key nothing here checks anything.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "stubframework/StubFramework.h"

namespace stubframework {

class StubApplication;

namespace core {

// The list the pages load.
std::wstring PagesListPath(StubApplication& app);

// Where the highest serial accepted per product is kept across runs: the machine's twin of the
// product key + "\Release", one REG_SZ per product (its decimal serial).
std::wstring ReleaseSerialKey(const std::wstring& frameworkKeyPath);

// The list update's acceptance of the list downloaded from url to path: its manifest must be
// this product's, with a serial not below the highest accepted nor below the pages' list. The
// serial is kept and logged. Otherwise "Signature refused for URL: REASON", path is removed and
// the result is Md5Error (Failure when the serial cannot be kept).
ResultCode AcceptReleaseList(StubApplication& app, const std::wstring& url, const std::wstring& path);

// A page's download of url into path: the release must list url (its query aside) with path's
// size and SHA-256. Otherwise logged, path and its companions removed, Md5Error.
ResultCode AcceptReleaseFile(StubApplication& app, const std::wstring& url, const std::wstring& path);

// url, then its addresses below the mirrors the pages' release names (see ReleaseAddresses);
// url alone when the list names no release or a refused one.
std::vector<std::wstring> ReleaseAddressesOf(StubApplication& app, const std::wstring& url);

// check, then the release's rule for the metadata of fileUrl: when the release lists the file
// or its ".meta", the metadata must be the listed ".meta". Refusals are logged and fail the
// download as a refused signature does.
downloader::MetaCheck WithReleaseCheck(StubApplication& app, const std::wstring& fileUrl, downloader::MetaCheck check);

// A file about to be installed, run or unpacked, held open: its size and SHA-256 must be those of
// a file the release lists (it came from this release, whatever its name now). Logged as what.
bool IsReleaseContent(StubApplication& app, HANDLE file, const std::wstring& what, bool logRefusal);

}} // namespace stubframework::core
