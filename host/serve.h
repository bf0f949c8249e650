// texhost serve: a small HTTP server on this machine that shows the plug-ins
// in a browser page with a control per widget and a live preview, rendered
// by the same code and to the same pixels as texhost render.
#pragma once

#include <string>

namespace texhost {

struct ServeOptions {
    std::string host = "127.0.0.1"; // loopback unless asked otherwise
    int port = 8765;                // 0: any free port
    std::string plugin_dir;
    bool open_browser = false;
    std::string executable;         // this tool, started again as its render process
};

// Serves until SIGINT or SIGTERM; prints the URL first. Throws HostError
// when it cannot start (no plug-ins, the port is taken).
int serve(const ServeOptions &options);

} // namespace texhost
