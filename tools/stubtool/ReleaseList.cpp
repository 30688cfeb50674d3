#include "tools/stubtool/ReleaseList.h"

#include <algorithm>

namespace stubtool {

namespace {

struct Frame {
    bool object = false;
    ListEntry entry;
    bool hasUrl = false;
    std::string problem;    // a "size" or "sha256" the tool cannot fill; told only for file entries
    size_t problemAt = 0;
};

bool Fail(std::string& error, const std::string& script, size_t at, const std::string& what) {
    error = "line " + std::to_string(std::count(script.begin(), script.begin() + std::min(at, script.size()), '\n') + 1) +
            ": " + what;
    return false;
}

size_t SkipBlanks(const std::string& s, size_t i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
    return i;
}

// The string literal whose quote is at i: false when it does not close on its line. plain is
// cleared by escapes other than \\ \" \' \/ (whose value is taken as written).
bool ReadString(const std::string& s, size_t i, size_t& end, std::string& value, bool& plain) {
    const char quote = s[i];
    value.clear();
    plain = true;
    for (size_t j = i + 1; j < s.size(); ++j) {
        const char c = s[j];
        if (c == quote) {
            end = j + 1;
            return true;
        }
        if (c == '\n') return false;
        if (c == '\\') {
            if (j + 1 >= s.size()) return false;
            const char escaped = s[++j];
            if (escaped != '\\' && escaped != '"' && escaped != '\'' && escaped != '/') plain = false;
            value += escaped;
            continue;
        }
        value += c;
    }
    return false;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

} // namespace

bool FindListEntries(const std::string& s, std::vector<ListEntry>& entries, std::string& error) {
    entries.clear();
    std::vector<Frame> stack;
    size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '/') {
            i = s.find('\n', i);
            if (i == std::string::npos) break;
            continue;
        }
        if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const size_t close = s.find("*/", i + 2);
            if (close == std::string::npos) return Fail(error, s, i, "a comment that does not end");
            i = close + 2;
            continue;
        }
        if (c == '{' || c == '[') {
            stack.push_back(Frame());
            stack.back().object = c == '{';
            ++i;
            continue;
        }
        if (c == '}' || c == ']') {
            if (stack.empty() || stack.back().object != (c == '}')) return Fail(error, s, i, "unbalanced brackets");
            const Frame frame = stack.back();
            stack.pop_back();
            if (frame.object && frame.hasUrl) {
                if (!frame.problem.empty()) return Fail(error, s, frame.problemAt, frame.problem);
                entries.push_back(frame.entry);
            }
            ++i;
            continue;
        }
        if (!IsQuote(c)) {
            ++i;
            continue;
        }
        size_t end = 0;
        std::string key;
        bool plain = true;
        if (!ReadString(s, i, end, key, plain)) return Fail(error, s, i, "a string that does not end on its line");
        i = end;
        const size_t colon = SkipBlanks(s, end);
        if (stack.empty() || !stack.back().object || colon >= s.size() || s[colon] != ':') continue;
        Frame& frame = stack.back();
        const size_t value = SkipBlanks(s, colon + 1);
        if (key == "url") {
            std::string url;
            if (value >= s.size() || !IsQuote(s[value]) || !ReadString(s, value, end, url, plain))
                return Fail(error, s, value, "\"url\" is not a string");
            if (!plain) return Fail(error, s, value, "the url holds an escape other than \\\\, \\\", \\' or \\/");
            if (frame.hasUrl) return Fail(error, s, value, "an entry with two \"url\" keys");
            frame.hasUrl = true;
            frame.entry.url = url;
            frame.entry.urlEnd = end;
            i = end;
        } else if (key == "size") {
            size_t digits = value;
            while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
            const size_t next = SkipBlanks(s, digits);
            if (digits == value || next >= s.size() || (s[next] != ',' && s[next] != '}')) {
                frame.problem = "\"size\" is not a whole number";
                frame.problemAt = value;
            } else {
                frame.entry.sizeStart = value;
                frame.entry.sizeEnd = digits;
                i = digits;
            }
        } else if (key == "sha256") {
            std::string hash;
            if (value < s.size() && IsQuote(s[value]) && ReadString(s, value, end, hash, plain)) {
                frame.entry.shaStart = value;
                frame.entry.shaEnd = end;
                i = end;
            } else {
                frame.problem = "\"sha256\" is not a string";
                frame.problemAt = value;
            }
        }
    }
    if (!stack.empty()) return Fail(error, s, s.size(), "a bracket that is never closed");
    return true;
}

std::string FillListEntries(const std::string& script, const std::vector<ListEntry>& entries,
                            const std::vector<EntryFacts>& facts) {
    struct Edit {
        size_t at, length;
        std::string text;
    };
    std::vector<Edit> edits;
    for (size_t n = 0; n < entries.size() && n < facts.size(); ++n) {
        const ListEntry& entry = entries[n];
        const std::string size = std::to_string(facts[n].size);
        const std::string sha = "\"" + facts[n].sha256 + "\"";
        const bool hasSize = entry.sizeEnd != 0, hasSha = entry.shaEnd != 0;
        if (hasSize) edits.push_back({entry.sizeStart, entry.sizeEnd - entry.sizeStart, size});
        if (hasSha) edits.push_back({entry.shaStart, entry.shaEnd - entry.shaStart, sha});
        // Missing keys go behind "url" (a missing sha256 behind an existing size).
        std::string behindUrl;
        if (!hasSize) behindUrl += ", \"size\": " + size;
        if (!hasSha && !hasSize) behindUrl += ", \"sha256\": " + sha;
        if (!behindUrl.empty()) edits.push_back({entry.urlEnd, 0, behindUrl});
        if (!hasSha && hasSize) edits.push_back({entry.sizeEnd, 0, ", \"sha256\": " + sha});
    }
    // From the end backwards, so that every offset still holds when its edit is made.
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at > b.at; });
    std::string out = script;
    for (const Edit& edit : edits) out.replace(edit.at, edit.length, edit.text);
    return out;
}

} // namespace stubtool
