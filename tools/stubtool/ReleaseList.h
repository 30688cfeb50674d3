// The file entries of an installer list as "stubtool publish" fills them: the list is a page
// script (its "type" values are flag expressions), so it is read as script text, not as JSON.
// A file entry is an object literal with a "url" key; its "size" and "sha256" are filled in, or
// added behind "url" when missing; nothing else of the text changes. No Windows headers here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace stubtool {

struct ListEntry {
    std::string url;              // the string's value
    size_t urlEnd = 0;            // just behind the url string's closing quote
    size_t sizeStart = 0, sizeEnd = 0;    // the size's digits; both 0 when there is no "size"
    size_t shaStart = 0, shaEnd = 0;      // the sha256 string, quotes included; 0 when missing
};

// The file entries of script in order. False with error (naming the line) for text the scan
// cannot follow: an unclosed string or comment, unbalanced braces, a "url" that is not a plain
// string, a "size" that is not a whole number, a "sha256" that is not a string.
bool FindListEntries(const std::string& script, std::vector<ListEntry>& entries, std::string& error);

struct EntryFacts {
    uint64_t size;
    std::string sha256;    // lower-case hex
};

// script with each entry's size and sha256 set to facts (one per entry, same order).
std::string FillListEntries(const std::string& script, const std::vector<ListEntry>& entries,
                            const std::vector<EntryFacts>& facts);

} // namespace stubtool
