// The debug monitor: a background thread with a connection of its own that switches the
// server's debug pipe on and prints whatever the server sends there, until it is told to stop.
#pragma once

// The '#' line: starts the monitor when none is running (or connecting), otherwise asks the
// running one to stop; it notices before its next receive. Console thread.
void monitor_toggle();
