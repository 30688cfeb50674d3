// The release manifest: the comment block that opens a signed installer list and binds every file
// of the release to its URL, size and SHA-256, and the release to its product and serial. The
// pages never see it (it is a comment); the stub reads nothing else of the list. No Windows
// headers here: fuzzed and sanitized natively.
//
//   /* TANDORA-RELEASE-MANIFEST 1
//   product Tandora
//   serial 12
//   mirror <base> <alternate base>
//   file <64 hex digits> <size> <url>
//   ...
//   END-TANDORA-RELEASE-MANIFEST */
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework { namespace core {

// The list's very first bytes: a page script cannot begin with them by accident.
constexpr char kManifestMarker[] = "/* TANDORA-RELEASE-MANIFEST 1";
constexpr char kManifestEnd[] = "END-TANDORA-RELEASE-MANIFEST */";

struct ReleaseFile {
    std::array<uint8_t, 32> sha256{};
    uint64_t size = 0;
    std::string url;
};

// Another address of the files below base: a file whose URL begins with base may also be
// fetched from alternate followed by the rest of its URL. Both end with "/"; an https base
// never gets an http alternate. The files stay listed (and bound) under their base URLs.
struct ReleaseMirror {
    std::string base;
    std::string alternate;
};

struct ReleaseManifest {
    std::string product;
    uint64_t serial = 0;
    std::vector<ReleaseMirror> mirrors;    // in the publisher's order of preference
    std::vector<ReleaseFile> files;
    size_t end = 0;    // offset of the list's first byte after the block (the page script)
};

// True when the bytes begin with the marker's "/* TANDORA-RELEASE-MANIFEST" (any version).
bool StartsWithManifest(const uint8_t* data, size_t size);

// Parses the block at the start of data. False with error (English, naming the line) when the
// marker is not the first bytes or any line breaks the format; nothing is guessed.
bool ParseReleaseManifest(const uint8_t* data, size_t size, ReleaseManifest& manifest, std::string& error);

// The block for manifest, lines ended by "\n", the end line included with its "\n".
std::string FormatReleaseManifest(const ReleaseManifest& manifest);

// What a URL is matched by: the URL up to its query or fragment (a token changes the query).
std::string ReleaseUrlKey(const std::string& url);

// url first, then its address below each mirror whose base it begins with, in the block's order.
std::vector<std::string> ReleaseAddresses(const ReleaseManifest& manifest, const std::string& url);

// The listed file whose URL has url's key; null when none.
const ReleaseFile* FindReleaseFile(const ReleaseManifest& manifest, const std::string& url);

}} // namespace stubframework::core
