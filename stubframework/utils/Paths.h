// Folder and file services shared by start-up, unpacking and the workflow.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include <windows.h>

namespace stubframework { namespace utils {

// The temporary folder with a trailing backslash, in its long form when that can be had.
bool GetTempDirectory(std::wstring& folder);

// base + an unpredictable name + "\", created as a private folder (see CreatePrivateFolder) and
// returned with its trailing backslash. Fails when base does not exist.
bool CreateUniqueSubfolder(const std::wstring& base, std::wstring& folder);

// Deletes a folder with everything below it. The result is that of removing the folder itself;
// files that cannot be deleted are skipped. A junction or symbolic link, at the top or below, is
// removed itself and never followed; drive roots and system folders are refused (false).
bool DeleteFolderTree(const std::wstring& folder);

// Creates a folder and every missing parent; true when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);

bool PathExists(const std::wstring& path);

// Copies what an open file holds, from its start, into a new file at target (an existing one is
// not replaced). The source is read through the handle, not opened again by name.
bool CopyOpenFile(HANDLE source, const std::wstring& target);

// A whole file of at most limit bytes (others may read it meanwhile); false when it is larger or
// cannot be read whole.
bool ReadFileBytes(const std::wstring& path, uint64_t limit, std::vector<uint8_t>& bytes);
// Creates or replaces path with bytes; false unless every byte was written.
bool WriteFileBytes(const std::wstring& path, const std::vector<uint8_t>& bytes);
bool GetOwnModulePath(std::wstring& path);

// Joins folder and name with exactly one backslash (PathCombineW's rules); false when it fails.
bool CombinePath(const std::wstring& folder, const std::wstring& name, std::wstring& result);

// The folder part of a path, with its trailing backslash ("" when there is none).
std::wstring ParentFolder(const std::wstring& path);
std::wstring FileNameOf(const std::wstring& path);

}} // namespace stubframework::utils
