#include "http_test_server.h"

#include <chrono>
#include <set>
#include <stdexcept>

HttpTestServer::HttpTestServer(int requestsPerConnection) {
    server_.set_keep_alive_max_count(static_cast<size_t>(requestsPerConnection));
    // As the update server: an answer's header and body go out at once, not one delayed ACK
    // (40 ms) apart.
    server_.set_tcp_nodelay(true);
    server_.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Dispatch(request, response);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("test server: no port");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpTestServer::~HttpTestServer() {
    stopping_ = true;
    server_.stop();
    thread_.join();
}

std::string HttpTestServer::BaseAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/liveupdate/";
}

void HttpTestServer::Serve(const std::string& target, std::string body) {
    Handle(target, [body = std::move(body)](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "application/octet-stream");
    });
}

void HttpTestServer::Handle(const std::string& target, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[target] = std::move(handler);
}

std::vector<HttpTestServer::Seen> HttpTestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

int HttpTestServer::Connections() const {
    std::set<std::string> peers;
    for (const auto& seen : Requests()) {
        const auto port = seen.headers.find("REMOTE_PORT");
        if (port != seen.headers.end()) peers.insert(port->second);
    }
    return static_cast<int>(peers.size());
}

std::vector<std::string> HttpTestServer::Targets() const {
    std::vector<std::string> targets;
    for (const auto& seen : Requests()) targets.push_back(seen.target);
    return targets;
}

void HttpTestServer::Dispatch(const httplib::Request& request, httplib::Response& response) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        seen_.push_back({request.target, request.headers});
        const auto found = handlers_.find(request.target);
        if (found != handlers_.end()) handler = found->second;
    }
    if (handler) {
        handler(request, response);
    } else {
        response.status = 404;
        response.set_content("Not Found", "text/plain");
    }
}

std::string FirmwareBody(std::size_t size, char seed) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>(seed + i * 7);
    return body;
}
