// norvlite's listener: accepts clients on one thread, serves each on a thread of its own, and
// shuts down cleanly on SIGINT or SIGTERM.
#pragma once

#include "server/options.h"

// Creates the data directory, listens on opts.listen_addr:opts.port, prints
// "norvlite listening on ADDR:PORT\n" on stdout, and serves until SIGINT or SIGTERM. Then it
// stops accepting, shuts every client socket down, joins every connection thread (each closes
// its database) and returns 0. Returns 1 with a message on stderr when it cannot start.
// Main thread only; installs the SIGINT, SIGTERM handlers and ignores SIGPIPE.
int srv_run(const srv_options& opts);
