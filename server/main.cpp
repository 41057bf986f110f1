// norvlite's entry: reads the command line (usage and exit status 2 on a bad one) and runs the
// server until it is told to stop.
#include <cstdio>
#include <span>
#include <string>

#include "server/options.h"
#include "server/server.h"

int main(int argc, char** argv) {
    srv_options opts;
    std::string error;
    std::span<const char* const> args(argv + 1, static_cast<size_t>(argc > 0 ? argc - 1 : 0));
    if (!srv_parse_args(args, opts, error)) {
        std::fprintf(stderr, "norvlite: %s\n%.*s", error.c_str(),
                     static_cast<int>(srv_usage().size()), srv_usage().data());
        return 2;
    }
    if (opts.help) {
        std::fwrite(srv_usage().data(), 1, srv_usage().size(), stdout);
        return 0;
    }
    return srv_run(opts);
}
