// Unpacks a ZIP archive found at the end of an open file (usually our own executable) into a folder.
#pragma once
#include "stubframework/zip/ZipReader.h"
#include "stubframework/zip/ZipReporter.h"

#include <windows.h>
#include <string>

namespace stubframework { namespace zip {

// Extracts every entry below destination (full or relative to the current folder; created with
// its missing parents), in archive order, and stops at the first entry that fails. Leading "./"
// segments are dropped ("./" alone is destination itself). Entries whose names would land outside
// destination fail, as does a file entry for a file this extraction already wrote. Files
// extracted before a failing entry stay; the failing entry leaves no file. reporter (may be null)
// gets Progress(i, count) before entry i, Progress(count, count) at the end in every case, and the
// Win32 error of each short read or write. True only when every entry was extracted.
bool ExtractArchive(HANDLE file, const std::wstring& destination, ZipReporter* reporter);

// An entry's name as used on disk: its first 259 bytes from UTF-8 (utf8) or else from the ANSI
// code page, "/" turned into "\". False when the conversion fails (invalid UTF-8 included).
// (Not yet checked with IsSafeEntryName.)
bool EntryPathName(const std::string& rawName, std::wstring& name, bool utf8 = false);
bool EntryPathName(const ZipEntry& entry, std::wstring& name);

}} // namespace stubframework::zip
