// The login exchange of a fresh connection: the channel choice by the first bytes ("~tls~",
// "~ssl~" or the clear login text), the login text, the verdict and the database it opens.
#pragma once

#include <string>
#include <string_view>

#include "server/options.h"
#include "server/session.h"

// Runs the login on s.channel (clear, s.channel.fd set), all within opts.login_timeout_ms.
// On success the client has got 'K', s.db is open and s.user, s.database, s.auto_commit and
// the settings the login text carries are set: returns true. Otherwise the reason is logged, the
// client got 'E' where the channel still allowed it, s.db is null and s.channel may still hold TLS
// or the own cipher's keystreams for the caller to end. Connection thread.
bool srv_login(srv_session& s, const srv_options& opts);

// text made safe for one log line: control and non-ASCII bytes become '?', at most 64 kept.
std::string srv_log_text(std::string_view text);

// Opens (creating if need be) DATA/NAME.db. Returns null with why set on failure.
struct sqlite3;
sqlite3* srv_open_database(const srv_options& opts, const std::string& name, std::string& why);
