// What a self-update may act on: the published stub's metadata only when the publisher signed it
// (and it is the one the release lists, when the release lists it), and a downloaded stub only
// when its version is above the running one's, so that no older signed stub replaces a newer.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "stubframework/StubFramework.h"

namespace stubframework {

class StubApplication;

namespace core {

// True when the metadata fetched from url + ".meta" is signed (url + ".meta.sig") and passes the
// release's check; a refusal is logged. Always true without a publisher key.
bool IsSignedStubMeta(StubApplication& app, const std::wstring& url, const std::vector<uint8_t>& meta);

// True when candidate's file version (version resource) is above running's; a running file
// without one counts as 0.0.0.0, a candidate without one is never newer. reason says why not.
bool IsNewerStub(const std::wstring& candidate, const std::wstring& running, std::wstring* reason = nullptr);

// The self-update worker's check of the stub it downloaded from url to path against the running
// executable: NoError, or "Signature refused for URL: REASON" logged and Md5Error.
ResultCode AcceptNewerStub(StubApplication& app, const std::wstring& url, const std::wstring& path);

}} // namespace stubframework::core
