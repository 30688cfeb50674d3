// Files and folders reached by handle, so that a check and the use that follows are one step: a
// folder is opened as itself (never what a link there points to) and its real path compared
// with the one asked for; what goes inside it is opened relative to that handle; deletes and
// renames go through handles too. A held folder handle that does not share delete pins the
// folder: nobody renames or replaces it while it is held.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

#include "stubframework/utils/Handle.h"

namespace stubframework { namespace utils {

// The path a handle really names, in drive ("C:\dir\file") or share ("\\server\share\...")
// form, normalised; empty when the system cannot tell.
std::wstring FinalPathOf(HANDLE handle);

// The full path in its long form (short aliases expanded where the path exists).
std::wstring LongPathOf(const std::wstring& path);

// True when both name the same place, ignoring case and a trailing backslash.
bool SamePath(const std::wstring& a, const std::wstring& b);

// Opens folder itself with access (list and synchronize are added). Refused (invalid handle) when
// there is no real folder there, when it is a link, or when its real path differs from the one
// asked for (a link somewhere above it). share leaves out delete by default: the folder cannot
// be renamed while held.
ScopedFileHandle OpenFolderNoFollow(const std::wstring& folder, DWORD access = 0,
                                    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE);

enum class ChildDisposition { OpenExisting, CreateNew, CreateOrOpen };

// Opens or creates name (one path component) inside the folder held by parent, relative to that
// handle, never following a link; refused when the result is not parent's real path + "\" + name.
// descriptor (creation only) may be null for the inherited security.
ScopedFileHandle OpenInFolder(HANDLE parent, const std::wstring& name, DWORD access, DWORD share,
                              ChildDisposition disposition, bool folder,
                              PSECURITY_DESCRIPTOR descriptor = nullptr);

// The names in a folder held with list access ("." and ".." left out). False when it cannot be read.
bool ListFolder(HANDLE folder, std::vector<std::wstring>& names);

// Deletes every entry below the folder held by folder (list access), by handle: links are removed
// themselves, never followed; entries whose real place is elsewhere are left alone. True when the
// folder is empty afterwards.
bool DeleteChildren(HANDLE folder);

// For tests: called in DeleteChildren between listing a folder and opening each entry, with the
// folder's real path and the entry's name (the moment a swap would be attempted).
using DeleteRaceHook = void (*)(const std::wstring& folder, const std::wstring& name);
void SetDeleteRaceHookForTesting(DeleteRaceHook hook);

// Deletes through the handle (opened with delete access): the file, the empty folder or the link
// itself goes when the last handle closes.
bool DeleteByHandle(HANDLE handle);

// Renames what handle (opened with delete access) holds to the full path target; replace lets it
// take the place of a file there.
bool RenameByHandle(HANDLE handle, const std::wstring& target, bool replace);

// Moves what is at path (a folder, file or link, without descending into it) to a new name beside
// it ("NAME.<random>.old"), through a handle; aside gets the new path. False when it cannot.
bool RenameAside(const std::wstring& path, std::wstring* aside = nullptr);

// Creates path as a new file (an existing file or link there is not replaced or followed) in a
// folder opened no-follow, and writes bytes. False unless every byte was written; a partial file
// goes again.
bool WriteNewFileNoFollow(const std::wstring& path, const void* bytes, size_t size);

// Copies what source holds, from its start, into the new file target (handle-held until written);
// see WriteNewFileNoFollow. The source is read through its handle only.
bool CopyHandleToNewFile(HANDLE source, const std::wstring& target);

// Copies from source's start into the open file target; false unless every byte arrived.
bool CopyHandleToHandle(HANDLE source, HANDLE target);

}} // namespace stubframework::utils
