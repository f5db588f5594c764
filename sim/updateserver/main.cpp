// tandel-updateserver: the simulated update server for tests and the demo.
//
//   tandel-updateserver [--port N] [--rtt MS] ROOT
//       Serves ROOT/liveupdate/ on 127.0.0.1 (a free port unless N is given), prints the base
//       address ("http://127.0.0.1:PORT/liveupdate/") as its first line and runs until killed.
//       Connections are kept alive. With --rtt, every response waits MS milliseconds and the
//       first one on a connection twice that, as over a link of that round-trip time.
//   tandel-updateserver --make-demo ROOT [--init-cfg FILE]
//       Writes the demo catalogue below ROOT (and a matching init.cfg to FILE), then exits.

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "CatalogueServer.h"
#include "DemoCatalogue.h"

namespace {

CatalogueServer* running = nullptr;

void Usage() {
    std::cerr << "usage: tandel-updateserver [--port N] [--rtt MS] ROOT\n"
                 "       tandel-updateserver --make-demo ROOT [--init-cfg FILE]\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::string root;
    std::string initCfg;
    bool makeDemo = false;
    int port = 0;
    int roundTripMs = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (arg == "--rtt" && i + 1 < argc) {
            roundTripMs = std::atoi(argv[++i]);
        } else if (arg == "--make-demo") {
            makeDemo = true;
        } else if (arg == "--init-cfg" && i + 1 < argc) {
            initCfg = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && root.empty()) {
            root = arg;
        } else {
            Usage();
            return 2;
        }
    }
    if (root.empty()) {
        Usage();
        return 2;
    }

    if (makeDemo) {
        try {
            WriteDemoCatalogue(root);
            if (!initCfg.empty()) {
                std::ofstream out(initCfg, std::ios::binary | std::ios::trunc);
                out << DemoInitCfg();
                if (!out) throw std::runtime_error("cannot write " + initCfg);
            }
        } catch (const std::exception& error) {
            std::cerr << "tandel-updateserver: " << error.what() << "\n";
            return 1;
        }
        return 0;
    }

    CatalogueServer server(root);
    server.SetRoundTrip(std::chrono::milliseconds(roundTripMs));
    if (server.Bind(port) == 0) {
        std::cerr << "tandel-updateserver: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }
    running = &server;
    for (const int signal : {SIGINT, SIGTERM}) {
        std::signal(signal, [](int) {
            if (running != nullptr) running->Stop();
        });
    }
    std::cout << server.BaseAddress() << std::endl;
    server.Run();
    return 0;
}
