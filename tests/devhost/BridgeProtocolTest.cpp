// The development host's request parsing: what a browser sends, what the shim sends, and the
// bytes neither should be able to slip past it.
#include <gtest/gtest.h>

#include "tools/devhost/BridgeProtocol.h"

using namespace devhost;

TEST(DevhostHttpRequest, ReadsRequestsThatArriveInPieces) {
    const std::string full = "POST /abc/.devhost/call HTTP/1.1\r\nHost: 127.0.0.1:80\r\nContent-Length: 5\r\n"
                             "X-Devhost-Page:  p1 \r\n\r\nhello";
    HttpRequest request;
    for (size_t cut = 0; cut < full.size(); ++cut) ASSERT_EQ(ParseHttpRequest(full.substr(0, cut), request), 0) << cut;
    ASSERT_EQ(ParseHttpRequest(full, request), 1);
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/abc/.devhost/call");
    EXPECT_EQ(request.headers["host"], "127.0.0.1:80");
    EXPECT_EQ(request.headers["x-devhost-page"], "p1");
    EXPECT_EQ(request.body, "hello");
}

TEST(DevhostHttpRequest, RefusesWhatIsNotAPlainRequest) {
    HttpRequest request;
    EXPECT_EQ(ParseHttpRequest("GET\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("GET abc HTTP/1.1\r\n\r\n", request), -1);            // not a path
    EXPECT_EQ(ParseHttpRequest("GET / SPDY/3\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.1\r\nNoColon\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("POST / HTTP/1.1\r\nContent-Length: 12x\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("POST / HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", request), -1);
    EXPECT_EQ(ParseHttpRequest("GET / HTTP/1.1\r\nX: " + std::string(20000, 'a'), request), -1);   // endless header
}

TEST(DevhostBridgeRequest, TurnsShimLinesIntoScriptValues) {
    BridgeRequest call;
    ASSERT_TRUE(ParseBridgeRequest("call\nset%20It\ns:Gr%C3%BC%C3%9Fe%0A\ni:-7\nd:1.5\nb:1\nb:0\nf:3\nn:\nu:\n", call));
    EXPECT_EQ(call.operation, "call");
    EXPECT_EQ(call.name, L"set It");
    ASSERT_EQ(call.args.size(), 8u);
    EXPECT_EQ(call.args[0].kind, ScriptValue::Text);
    EXPECT_EQ(call.args[0].text, L"Gr\u00fc\u00dfe\n");
    EXPECT_EQ(call.args[1].kind, ScriptValue::Integer);
    EXPECT_EQ(call.args[1].integer, -7);
    EXPECT_EQ(call.args[2].kind, ScriptValue::Real);
    EXPECT_DOUBLE_EQ(call.args[2].real, 1.5);
    EXPECT_EQ(call.args[3].integer, 1);
    EXPECT_EQ(call.args[4].integer, 0);
    EXPECT_EQ(call.args[5].kind, ScriptValue::Function);
    EXPECT_EQ(call.args[5].integer, 3);
    EXPECT_EQ(call.args[6].kind, ScriptValue::Null);
    EXPECT_EQ(call.args[7].kind, ScriptValue::Undefined);

    ASSERT_TRUE(ParseBridgeRequest("get\nanswer", call));
    EXPECT_TRUE(call.args.empty());
}

TEST(DevhostBridgeRequest, RefusesMalformedBodies) {
    BridgeRequest call;
    for (const char* body : {"", "call", "call\n", "run\nx", "call\nx\ns:%4", "call\nx\ns:%zz", "call\nx\ni:",
                             "call\nx\ni:99999999999999999999", "call\nx\ni:1e3", "call\nx\nb:2", "call\nx\nf:-1",
                             "call\nx\nn:0", "call\nx\nq:1", "call\nx\ns", "call\nx\n\ni:1"})
        EXPECT_FALSE(ParseBridgeRequest(body, call)) << body;
}

TEST(DevhostJson, EscapesEverythingJsonCannotCarryRaw) {
    EXPECT_EQ(JsonString(L"a\"b\\c\nd\x01\u00e9"), "\"a\\\"b\\\\c\\nd\\u0001\xc3\xa9\"");
    EXPECT_EQ(JsonNumber(2.5), "2.5");
    EXPECT_EQ(JsonNumber(1.0 / 0.0), "null");
}

// Which requests reach the host: a page of another origin (a site the user has open, a form it
// posts) must not drive the bridge, and neither may a guess at the secret.
TEST(DevhostAdmission, OnlyItsOwnPagesWithTheSecretGetIn) {
    const std::string secret = "/0123456789abcdef0123456789abcdef/";
    struct Case {
        const char* method;
        const char* target;
        const char* host;
        const char* origin;        // nullptr: no header
        const char* contentType;   // nullptr: no header
        int status;
    };
    const Case cases[] = {
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", "http://127.0.0.1:8080",
         "application/x-devhost-call", 0},
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "localhost:8080", nullptr,
         "Application/X-Devhost-Call; charset=utf-8", 0},
        {"GET", "/0123456789abcdef0123456789abcdef/Load.html", "127.0.0.1:8080", nullptr, nullptr, 0},
        // Another origin, even with the secret and the right type.
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", "http://evil.test",
         "application/x-devhost-call", 403},
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", "null",
         "application/x-devhost-call", 403},
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", "http://127.0.0.1:8081",
         "application/x-devhost-call", 403},
        {"GET", "/0123456789abcdef0123456789abcdef/.devhost/events", "127.0.0.1:8080", "https://127.0.0.1:8080",
         nullptr, 403},
        // What a form or a plain cross-site request can send.
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", nullptr,
         "text/plain;charset=UTF-8", 415},
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", nullptr,
         "application/x-www-form-urlencoded", 415},
        {"POST", "/0123456789abcdef0123456789abcdef/.devhost/call", "127.0.0.1:8080", nullptr, nullptr, 415},
        // Wrong or partial secrets, other host names.
        {"GET", "/0123456789abcdef0123456789abcdee/Load.html", "127.0.0.1:8080", nullptr, nullptr, 403},
        {"GET", "/0123456789abcdef/", "127.0.0.1:8080", nullptr, nullptr, 403},
        {"GET", "/", "127.0.0.1:8080", nullptr, nullptr, 403},
        {"GET", "/0123456789abcdef0123456789abcdef/Load.html", "evil.test:8080", nullptr, nullptr, 403},
        {"GET", "/0123456789abcdef0123456789abcdef/Load.html", nullptr, nullptr, nullptr, 403},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.method = c.method;
        request.target = c.target;
        if (c.host) request.headers["host"] = c.host;
        if (c.origin) request.headers["origin"] = c.origin;
        if (c.contentType) request.headers["content-type"] = c.contentType;
        EXPECT_EQ(AdmitRequest(request, secret, 8080), c.status)
            << c.method << " " << c.target << " origin " << (c.origin ? c.origin : "-") << " type "
            << (c.contentType ? c.contentType : "-");
    }
}
