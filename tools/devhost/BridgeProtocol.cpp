#include "tools/devhost/BridgeProtocol.h"
#include "stubframework/core/ReportDocuments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace devhost {

namespace {
const size_t kMaxHeader = 16 * 1024;
const size_t kMaxBody = 4 * 1024 * 1024;

std::string Lower(std::string text) {
    for (char& c : text) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseLong(const std::string& text, long& value) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool ParseValue(const std::string& line, ScriptValue& value) {
    if (line.size() < 2 || line[1] != ':') return false;
    const std::string payload = line.substr(2);
    switch (line[0]) {
    case 's': {
        std::string bytes;
        if (!PercentDecode(payload, bytes)) return false;
        value.kind = ScriptValue::Text;
        value.text = stubframework::core::FromUtf8(bytes);
        return true;
    }
    case 'i':
        value.kind = ScriptValue::Integer;
        return ParseLong(payload, value.integer);
    case 'b':
        value.kind = ScriptValue::Boolean;
        value.integer = payload == "1" ? 1 : 0;
        return payload == "1" || payload == "0";
    case 'f':
        value.kind = ScriptValue::Function;
        return ParseLong(payload, value.integer) && value.integer >= 0;
    case 'd': {
        if (payload.empty()) return false;
        char* end = nullptr;
        value.kind = ScriptValue::Real;
        value.real = std::strtod(payload.c_str(), &end);
        return end && *end == '\0';
    }
    case 'n':
        value.kind = ScriptValue::Null;
        return payload.empty();
    case 'u':
        value.kind = ScriptValue::Undefined;
        return payload.empty();
    default:
        return false;
    }
}
} // namespace

int ParseHttpRequest(const std::string& data, HttpRequest& request) {
    const size_t headerEnd = data.find("\r\n\r\n");
    if (headerEnd == std::string::npos) return data.size() > kMaxHeader ? -1 : 0;
    request = HttpRequest();
    size_t lineStart = 0;
    bool first = true;
    while (lineStart < headerEnd) {
        size_t lineEnd = data.find("\r\n", lineStart);
        if (lineEnd == std::string::npos || lineEnd > headerEnd) lineEnd = headerEnd;
        const std::string line = data.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 2;
        if (first) {
            first = false;
            const size_t space1 = line.find(' ');
            const size_t space2 = line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
            if (space1 == std::string::npos || space2 == std::string::npos) return -1;
            request.method = line.substr(0, space1);
            request.target = line.substr(space1 + 1, space2 - space1 - 1);
            if (request.target.empty() || request.target[0] != '/' || line.compare(space2 + 1, 5, "HTTP/") != 0)
                return -1;
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return -1;
        request.headers[Lower(Trim(line.substr(0, colon)))] = Trim(line.substr(colon + 1));
    }
    if (first) return -1;
    if (request.headers.count("transfer-encoding")) return -1;   // the shim never sends chunked bodies
    long length = 0;
    const auto contentLength = request.headers.find("content-length");
    if (contentLength != request.headers.end() &&
        (!ParseLong(contentLength->second, length) || length < 0 || static_cast<size_t>(length) > kMaxBody))
        return -1;
    const size_t bodyStart = headerEnd + 4;
    if (data.size() - bodyStart < static_cast<size_t>(length)) return 0;
    request.body = data.substr(bodyStart, static_cast<size_t>(length));
    return 1;
}

bool PercentDecode(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

bool ParseBridgeRequest(const std::string& body, BridgeRequest& request) {
    request = BridgeRequest();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    if (lines.size() < 2) return false;
    request.operation = lines[0];
    if (request.operation != "call" && request.operation != "get" && request.operation != "put" &&
        request.operation != "delete" && request.operation != "answer" && request.operation != "credentials")
        return false;
    std::string name;
    if (!PercentDecode(lines[1], name) || name.empty()) return false;
    request.name = stubframework::core::FromUtf8(name);
    for (size_t i = 2; i < lines.size(); ++i) {
        if (lines[i].empty() && i + 1 == lines.size()) break;   // a trailing newline
        ScriptValue value;
        if (!ParseValue(lines[i], value)) return false;
        request.args.push_back(value);
    }
    return true;
}

std::string JsonString(const std::wstring& text) {
    const std::string utf8 = stubframework::core::ToUtf8(text);
    std::string out = "\"";
    for (const char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (u < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", u);
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) return "null";
    char text[32];
    std::snprintf(text, sizeof(text), "%.17g", value);
    return text;
}

const char kCallContentType[] = "application/x-devhost-call";

int AdmitRequest(const HttpRequest& request, const std::string& secretPrefix, unsigned short port) {
    const std::string portText = std::to_string(port);
    const std::string names[] = {"127.0.0.1:" + portText, "localhost:" + portText};
    const auto host = request.headers.find("host");
    if (host == request.headers.end() || (host->second != names[0] && host->second != names[1])) return 403;
    const auto origin = request.headers.find("origin");
    if (origin != request.headers.end() && origin->second != "http://" + names[0] &&
        origin->second != "http://" + names[1])
        return 403;
    // Every byte of the secret is looked at, whatever the first difference: the time an answer
    // takes tells nothing about how much of a guess was right.
    unsigned char difference = request.target.size() < secretPrefix.size() ? 1 : 0;
    for (size_t i = 0; i < secretPrefix.size(); ++i) {
        const char sent = i < request.target.size() ? request.target[i] : '\0';
        difference |= static_cast<unsigned char>(sent ^ secretPrefix[i]);
    }
    if (difference != 0 || secretPrefix.size() < 3) return 403;
    if (request.method == "POST") {
        const auto type = request.headers.find("content-type");
        if (type == request.headers.end()) return 415;
        std::string value = type->second.substr(0, type->second.find(';'));
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        for (char& c : value) if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (value != kCallContentType) return 415;
    }
    return 0;
}

} // namespace devhost
