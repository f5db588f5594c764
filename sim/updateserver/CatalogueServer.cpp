#include "CatalogueServer.h"

#include <httplib.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>

#include "BaseDirectory.h"
#include "Cp1250.h"

namespace {

constexpr std::string_view kPrefix = "/liveupdate/";

// The UTF-8 path below `root` for a decoded request path below /liveupdate/, or nothing
// when a segment could leave the catalogue.
bool DiskPath(const std::string& root, std::string_view rest, std::string& path) {
    path = JoinPath(root, "liveupdate");
    while (true) {
        const std::size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty() || segment == "." || segment == ".." ||
            segment.find('\0') != std::string_view::npos) {
            return false;
        }
        path = JoinPath(path, Cp1250ToUtf8(segment));
        if (slash == std::string_view::npos) return true;
        rest.remove_prefix(slash + 1);
    }
}

bool ReadRegularFile(const std::string& path, std::string& bytes) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

}  // namespace

struct CatalogueServer::Impl {
    std::string root;
    httplib::Server server;
    int port = 0;
    std::chrono::milliseconds roundTrip{0};
    std::mutex mutex;
    // Client ends (address and port) seen so far: a new one is a new connection.
    std::set<std::string> peers;

    void Delay(const httplib::Request& request) {
        bool fresh;
        {
            std::lock_guard lock(mutex);
            fresh = peers.insert(request.remote_addr + ":" + std::to_string(request.remote_port))
                        .second;
        }
        if (roundTrip.count() > 0) std::this_thread::sleep_for(fresh ? 2 * roundTrip : roundTrip);
    }
};

std::size_t CatalogueServer::Connections() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->peers.size();
}

CatalogueServer::CatalogueServer(std::string root) : impl_(std::make_unique<Impl>()) {
    impl_->root = std::move(root);
    // Headers and body go out as two writes: without TCP_NODELAY the body of every request
    // after the first on a connection would wait for the client's delayed acknowledgement.
    impl_->server.set_tcp_nodelay(true);
    impl_->server.set_keep_alive_max_count(100000);
    impl_->server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        impl_->Delay(request);
        std::string path;
        std::string bytes;
        const std::string_view decoded = request.path;
        if (decoded.starts_with(kPrefix) &&
            DiskPath(impl_->root, decoded.substr(kPrefix.size()), path) &&
            ReadRegularFile(path, bytes)) {
            const bool text = path.ends_with(".txt");
            response.set_content(
                bytes, text ? "text/plain; charset=windows-1250" : "application/octet-stream");
        } else {
            response.status = 404;
            response.set_content("Not Found", "text/plain");
        }
    });
}

CatalogueServer::~CatalogueServer() {
    Stop();
}

int CatalogueServer::Bind(int port) {
    if (port == 0) {
        impl_->port = impl_->server.bind_to_any_port("127.0.0.1");
    } else if (impl_->server.bind_to_port("127.0.0.1", port)) {
        impl_->port = port;
    }
    if (impl_->port < 0) impl_->port = 0;
    return impl_->port;
}

void CatalogueServer::SetRoundTrip(std::chrono::milliseconds roundTrip) {
    impl_->roundTrip = roundTrip;
}

std::string CatalogueServer::BaseAddress() const {
    return "http://127.0.0.1:" + std::to_string(impl_->port) + std::string(kPrefix);
}

void CatalogueServer::Run() {
    impl_->server.listen_after_bind();
}

bool CatalogueServer::IsRunning() const {
    return impl_->server.is_running();
}

void CatalogueServer::Stop() {
    impl_->server.stop();
}
