// Replacing the stub by a newer published one, and refreshing the installer list. Both workers
// reuse the download workflow: its retries, progress thread and result codes.
#pragma once
#include <windows.h>
#include <string>

namespace stubframework {

class StubApplication;

namespace core {

// The name the newer stub is saved under, next to the running copy: the URL's file name, or,
// when that is the running file's own name (any case), its part before the first "." followed
// by "_update.exe". Empty when the URL names no file.
std::wstring SelfUpdateFileName(const std::wstring& url, const std::wstring& runningName);

// path with "__NEW_FILE__" before the last "." of its file name, or at its end without one.
std::wstring InstallerListTemporaryPath(const std::wstring& path);

// True when the stub published at url differs from the file at exePath by its url + ".meta".
// A metadata address that does not answer 200 (redirects are not followed) means no update;
// metadata that is there but cannot be fetched means one; metadata the publisher did not sign
// means none.
bool IsNeedSelfUpdate(StubApplication& app, const std::wstring& url, const std::wstring& exePath);

// Forgets a hand-over: removes "selfupdate_code" and "update_stub_name" under keyPath in both
// registry views. The launcher calls it once it has taken the request over.
void ClearSelfUpdateValues(const std::wstring& keyPath);

// Thread entries; each owns the DownloadRequest it is given.
DWORD WINAPI SelfUpdateThreadFunc(void* request);
DWORD WINAPI UpdateInstallerListThreadFunc(void* request);

}} // namespace stubframework::core
