// The one rule that decides whether an address is part of the unpacked UI bundle: only such a
// document gets window.external, may run script, or is loaded in the host window. Pure: no
// <windows.h>, so it also builds for the sanitizer runs.
#pragma once
#include <string>

namespace stubframework { namespace htmlui {

// True when url names something strictly below bundleFolder (a local drive path such as
// "C:\Temp\0a1b\", with or without its trailing backslash). Accepted forms: a "file:" URL with
// two or three slashes before the drive ("file:///C:/Temp/0a1b/Load.html") and a plain path; a
// query or fragment after the path is allowed. Refused: every other scheme, UNC and device
// paths, "." and ".." or empty parts, encoded separators, dots or percent signs, characters no
// file name may hold, and anything that is not below the folder once case is ignored.
bool IsInsideBundle(const std::wstring& url, const std::wstring& bundleFolder);

// What the host does with a link or new window that leaves the page: load it in the window
// (inside the bundle), hand it to the user's browser (http and https), or refuse it.
enum class LinkAction { LoadInWindow, OpenInBrowser, Refuse };
LinkAction ClassifyLink(const std::wstring& url, const std::wstring& bundleFolder);

// The address with its query replaced by "?..." (tokens travel there); fragments go too.
std::wstring WithoutQuery(const std::wstring& url);

}} // namespace stubframework::htmlui
