#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "tools/devhost/HttpServer.h"

#include <mutex>
#include <set>

namespace devhost {

struct HttpServer::State {
    Handler handler;
    SOCKET listener = INVALID_SOCKET;
    std::mutex mutex;
    std::set<SOCKET> waiting;   // connections still reading their request
    int running = 0;            // connection threads not yet finished
    bool stopping = false;
};

namespace {
const int kMaxConnections = 32;

const char* ReasonOf(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 415: return "Unsupported Media Type";
    case 503: return "Service Unavailable";
    default: return "Error";
    }
}

bool SendAll(SOCKET socket, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const int n = ::send(socket, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

void Serve(std::shared_ptr<HttpServer::State> state, SOCKET socket) {
    HttpRequest request;
    std::string data;
    int parsed = 0;
    char buffer[8192];
    while (parsed == 0) {
        const int n = ::recv(socket, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        data.append(buffer, static_cast<size_t>(n));
        parsed = ParseHttpRequest(data, request);
    }
    bool handle = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->waiting.erase(socket);
        handle = !state->stopping;
    }
    if (parsed != 0 && handle) {
        HttpResponse response;
        if (parsed < 0) {
            response.status = 400;
            response.body = "bad request";
        } else {
            response = state->handler(request);
        }
        std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonOf(response.status) +
                           "\r\nContent-Type: " + response.contentType +
                           "\r\nContent-Length: " + std::to_string(response.body.size()) +
                           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
        if (request.method != "HEAD") head += response.body;
        SendAll(socket, head);
        ::shutdown(socket, SD_SEND);
    }
    ::closesocket(socket);
    std::lock_guard<std::mutex> lock(state->mutex);
    --state->running;
}

void Accept(std::shared_ptr<HttpServer::State> state) {
    for (;;) {
        const SOCKET socket = ::accept(state->listener, nullptr, nullptr);
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->stopping) {   // Stop closed the listener
            if (socket != INVALID_SOCKET) ::closesocket(socket);
            return;
        }
        if (socket == INVALID_SOCKET) continue;   // a client that gave up before it was accepted
        // A page opening connection after connection must not run the host out of threads.
        if (state->running >= kMaxConnections) {
            ::closesocket(socket);
            continue;
        }
        state->waiting.insert(socket);
        ++state->running;
        std::thread(Serve, state, socket).detach();   // counted in `running`, awaited by Stop
    }
}
} // namespace

HttpServer::HttpServer(Handler handler) : state_(std::make_shared<State>()) {
    state_->handler = std::move(handler);
}

HttpServer::~HttpServer() {
    Stop(0);
    if (winsock_) ::WSACleanup();
}

bool HttpServer::Start(unsigned short port) {
    if (acceptor_.joinable()) return false;
    WSADATA data;
    if (!winsock_) {
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
        winsock_ = true;
    }
    const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    // Nobody else may take over the port while the page talks to it.
    BOOL exclusive = TRUE;
    ::setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof(exclusive));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(listener);
        return false;
    }
    port_ = ntohs(address.sin_port);
    state_->listener = listener;
    acceptor_ = std::thread(Accept, state_);
    return true;
}

void HttpServer::Stop(unsigned waitMs) {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (state_->stopping) return;
        state_->stopping = true;
        for (const SOCKET socket : state_->waiting) ::shutdown(socket, SD_BOTH);
    }
    if (state_->listener != INVALID_SOCKET) {
        ::closesocket(state_->listener);
        state_->listener = INVALID_SOCKET;
    }
    if (acceptor_.joinable()) acceptor_.join();
    const DWORD start = ::GetTickCount();
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            if (state_->running == 0) return;
        }
        if (::GetTickCount() - start >= waitMs) return;   // the threads keep the state alive
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
        MSG message;
        ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

} // namespace devhost
