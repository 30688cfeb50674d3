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
