// The product's package cache on the ground: every file a page downloads or hands to an
// installer is kept there, verified, under its file name in a slot of its page path, in one
// admin-only folder that outlives the run (a run resumed after a reboot finds what was verified
// before it). The path a page
// names, in the user's folder, holds a copy for the user; an installer only ever gets the
// cache's file.
#pragma once
#include <string>

#include "stubframework/utils/Handle.h"

namespace stubframework {

class StubApplication;

namespace core {

// "<ground>\Cache\<product id>\"; empty when it cannot be had.
std::wstring PackageCacheFolder(StubApplication& app);

// The cache's place for the file pagePath names (its slot folder is made); empty without a cache
// or a file name.
std::wstring CachedPathOf(StubApplication& app, const std::wstring& pagePath);

// The cached copy of what pagePath names, verified (OpenVerifiedFile's rules) and held; when the
// cache lacks it or it does not verify there, copied in verified from pagePath. False, logged,
// when neither can be had.
bool OpenCachedFile(StubApplication& app, const std::wstring& pagePath, std::wstring& cachePath,
                    utils::ScopedFileHandle& held);

// For tests: the folder used as the cache from now on (empty: the product's own again).
void SetPackageCacheForTesting(const std::wstring& folder);

}} // namespace stubframework::core
