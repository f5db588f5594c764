#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

// Serves a catalogue directory over HTTP on 127.0.0.1, as the vendor's update server does:
// GET /liveupdate/<folder>/lista.txt, opis.txt and <name>.bin are the files below
// <root>/liveupdate/. Request paths carry CP1250 bytes (percent-encoded); each segment is
// looked up on disk by its UTF-8 name. Only regular files are served; everything else,
// and any ".", ".." or empty segment, is "404 Not Found". Connections are kept alive.
class CatalogueServer {
  public:
    explicit CatalogueServer(std::string root);
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    // Binds 127.0.0.1:port, or a free port when port is 0; returns the port (0 on failure).
    int Bind(int port);
    // Makes loopback look like a wide-area link of this round-trip time: each response waits
    // one round trip, and the first response on a connection one more (its connection set-up).
    // Set before Run().
    void SetRoundTrip(std::chrono::milliseconds roundTrip);
    // "http://127.0.0.1:<port>/liveupdate/" once bound.
    std::string BaseAddress() const;
    // Serves until Stop(); blocks the calling thread.
    void Run();
    // True while Run() is serving. A Stop() before that has no effect.
    bool IsRunning() const;
    void Stop();
    // The connections that have asked for something so far.
    std::size_t Connections() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
