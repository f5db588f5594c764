#pragma once

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

#include "CatalogueServer.h"

// The server of a catalogue root, serving on a thread of the test process.
class ServerThread {
  public:
    explicit ServerThread(const std::filesystem::path& root,
                          std::chrono::milliseconds roundTrip = std::chrono::milliseconds(0))
        : server_(root.string()) {
        server_.SetRoundTrip(roundTrip);
        if (server_.Bind(0) == 0) throw std::runtime_error("no port");
        thread_ = std::thread([this] { server_.Run(); });
        while (!server_.IsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ServerThread() {
        server_.Stop();
        thread_.join();
    }
    std::string BaseAddress() const { return server_.BaseAddress(); }
    std::size_t Connections() const { return server_.Connections(); }

  private:
    CatalogueServer server_;
    std::thread thread_;
};
