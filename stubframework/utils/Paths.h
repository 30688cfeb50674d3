// Folder and file services shared by start-up, unpacking and the workflow.
#pragma once
#include <string>

namespace stubframework { namespace utils {

// The temporary folder with a trailing backslash, in its long form when that can be had.
bool GetTempDirectory(std::wstring& folder);

// base + lower-case hex of a counter started at the tick count + "\"; the first free name is
// created and returned with its trailing backslash. Fails when base does not exist.
bool CreateUniqueSubfolder(const std::wstring& base, std::wstring& folder);

// Deletes a folder with everything below it. The result is that of removing the folder itself;
// files that cannot be deleted are skipped.
bool DeleteFolderTree(const std::wstring& folder);

// Creates a folder and every missing parent; true when it exists afterwards.
bool CreateFolderTree(const std::wstring& folder);

bool PathExists(const std::wstring& path);
bool GetOwnModulePath(std::wstring& path);

// Joins folder and name with exactly one backslash (PathCombineW's rules); false when it fails.
bool CombinePath(const std::wstring& folder, const std::wstring& name, std::wstring& result);

// The folder part of a path, with its trailing backslash ("" when there is none).
std::wstring ParentFolder(const std::wstring& path);
std::wstring FileNameOf(const std::wstring& path);

}} // namespace stubframework::utils
