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
// chose for a message box the call opened.
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
