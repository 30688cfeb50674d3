// The development host's wire formats: HTTP requests from the browser, the shim's call bodies
// and the JSON the page reads back. No Win32 here.
#pragma once
#include <map>
#include <string>
#include <vector>

namespace devhost {

struct HttpRequest {
    std::string method;
    std::string target;                         // as sent, query included
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;
};

// Reads one request from `data`. Returns 1 when complete (the request is filled in), 0 when more
// bytes are needed, -1 when the bytes are not a request this host accepts.
int ParseHttpRequest(const std::string& data, HttpRequest& request);

// The content type the shim's calls carry. It is not one a form or a plain cross-site request may
// send, so a browser asks this host first, and this host never says yes.
extern const char kCallContentType[];

// Whether a request may reach the host at all: 0 when it may, else the HTTP status that refuses
// it. The Host header must name 127.0.0.1 or localhost on port, an Origin header (when present)
// must be this host's own, the target must begin with secretPrefix ("/<secret>/", compared in
// constant time), and a POST must carry kCallContentType.
int AdmitRequest(const HttpRequest& request, const std::string& secretPrefix, unsigned short port);

// %XX escapes become bytes; a malformed escape makes the whole text invalid.
bool PercentDecode(const std::string& text, std::string& bytes);

// One script value as the shim sends it: "s:" text, "i:" whole number, "d:" other number,
// "b:" 1 or 0, "f:" id of a page function or object, "n:" null, "u:" undefined.
struct ScriptValue {
    enum Kind { Text, Integer, Real, Boolean, Function, Null, Undefined } kind = Undefined;
    std::wstring text;
    long integer = 0;   // Integer, Boolean (0/1) and Function (its id)
    double real = 0;
};

// A call body: operation ("call", "get", "put", "delete"), percent-encoded member name, then one
// line per argument in script order. "answer" carries the button ("ok", "cancel") that the page
// chose for a message box the call opened; "credentials" carries the page's answer to a
// credential prompt (name: the prompt's id; given, user name, password, remember).
struct BridgeRequest {
    std::string operation;
    std::wstring name;
    std::vector<ScriptValue> args;
};
bool ParseBridgeRequest(const std::string& body, BridgeRequest& request);

// JSON text pieces (UTF-8).
std::string JsonString(const std::wstring& text);
std::string JsonNumber(double value);

} // namespace devhost
