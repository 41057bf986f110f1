// Logs a client in. The first five bytes choose the channel: "~tls~" answers "ok" and runs the
// TLS handshake, after which the client writes its login text in a zero-filled 256-byte block;
// "~ssl~" runs the own-cipher handshake (server/own_cipher.cpp), which yields the login text and
// enciphers everything after it; anything else starts a clear login text, sent without zero
// byte or length, complete once it ends in " version = '<digits>'". The verdict is one byte:
// 'K' with the database open, or 'E'.
#include "server/login.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "server/faults.h"
#include "server/log.h"
#include "server/login_text.h"
#include "server/own_cipher.h"
#include "server/tls.h"

namespace {

constexpr std::string_view tls_marker = "~tls~";
constexpr std::string_view own_cipher_marker = "~ssl~";
constexpr size_t marker_size = 5;
constexpr std::string_view tls_go_ahead = "ok";  // the client reads and ignores these 2 bytes
constexpr char verdict_accepted = 'K';
constexpr char verdict_refused = 'E';
constexpr size_t log_text_max = 64;

const char* channel_name(const srv_session& s) {
    switch (s.channel.mode) {
        case srv_channel_mode::clear:
            return "clear";
        case srv_channel_mode::tls:
            return "TLS";
        case srv_channel_mode::own_cipher:
            return "own cipher";
    }
    return "?";
}

// Sends 'E' if the channel allows it, logs why, and reports the login as failed.
bool refuse(srv_session& s, srv_deadline deadline, const std::string& why) {
    srv_send_all(s.channel, &verdict_refused, 1, deadline);
    srv_log("conn %d %s: login refused (%s): %s", s.id, s.peer.c_str(), channel_name(s),
            why.c_str());
    return false;
}

// Drops the connection without a verdict (the channel cannot carry one).
bool drop(const srv_session& s, const std::string& why) {
    srv_log("conn %d %s: dropped before login: %s", s.id, s.peer.c_str(), why.c_str());
    return false;
}

// Reads the rest of a clear login text whose first bytes are already in text. On false, why
// says what was wrong.
bool read_clear_text(srv_channel& ch, std::string& text, srv_deadline deadline, std::string& why) {
    constexpr size_t max_text = login_text_size - 1;
    char buf[login_text_size];
    while (!srv_login_text_complete(text)) {
        if (text.size() >= max_text) {
            why = "no complete login text within " + std::to_string(max_text) + " bytes";
            return false;
        }
        long got = srv_recv_some(ch, buf, max_text - text.size(), deadline);
        if (got == 0) {
            why = "client closed before the login text was complete";
            return false;
        }
        if (got < 0) {
            why = "login text not complete in time";
            return false;
        }
        text.append(buf, static_cast<size_t>(got));
    }
    return true;
}

// Runs the TLS handshake and reads the 256-byte login block; text gets the part before its
// zero byte. false means the connection is dropped (why set) or refused (refused set).
bool read_tls_text(srv_session& s, const srv_options& opts, srv_deadline deadline,
                   std::string& text, std::string& why, bool& refused) {
    refused = false;
    if (!srv_tls_ready(opts.certs_dir, why)) {
        why = "TLS unavailable: " + why;
        return false;
    }
    if (!srv_send_all(s.channel, tls_go_ahead.data(), tls_go_ahead.size(), deadline)) {
        why = "client gone before the TLS handshake";
        return false;
    }
    srv_tls* tls = srv_tls_accept(s.channel.fd, opts.certs_dir, deadline, why);
    if (!tls) return false;
    s.channel.mode = srv_channel_mode::tls;
    s.channel.tls = tls;
    char block[login_text_size];
    if (!srv_recv_exact(s.channel, block, sizeof block, deadline)) {
        why = "no complete 256-byte login block over TLS in time";
        return false;
    }
    const char* zero = static_cast<const char*>(std::memchr(block, '\0', sizeof block));
    if (!zero) {
        why = "login block without a zero byte";
        refused = true;
        return false;
    }
    text.assign(block, static_cast<size_t>(zero - block));
    return true;
}

// Compares without an early exit, so the time taken does not tell how much of a password
// matched.
bool same_secret(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ (b.empty() ? 0 : b[i % b.size()]));
    }
    return diff == 0;
}

// Opens (creating if need be) DATA/NAME.db. Returns null with why set on failure.
sqlite3* open_database_file(const srv_options& opts, const std::string& name, std::string& why) {
    std::string path = (std::filesystem::path(opts.data_dir) / (name + ".db")).string();
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        why = "cannot open database " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

}  // namespace

std::string srv_log_text(std::string_view text) {
    std::string out(text.substr(0, log_text_max));
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    }
    if (text.size() > log_text_max) out += "...";
    return out;
}

bool srv_login(srv_session& s, const srv_options& opts) {
    const srv_deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(opts.login_timeout_ms);

    char first[marker_size];
    long got = 0;
    while (got < static_cast<long>(marker_size)) {
        long r = srv_recv_some(s.channel, first + got, marker_size - got, deadline);
        if (r == 0) return drop(s, "client closed before sending anything complete");
        if (r < 0) return refuse(s, deadline, "nothing complete received in time");
        got += r;
    }
    std::string_view marker(first, marker_size);

    std::string text;
    std::string why;
    if (marker == tls_marker) {
        bool refused = false;
        if (!read_tls_text(s, opts, deadline, text, why, refused)) {
            return refused ? refuse(s, deadline, why) : drop(s, why);
        }
    } else if (marker == own_cipher_marker) {
        if (!srv_own_cipher_accept(s.channel, deadline, text, why)) {
            return drop(s, "own-cipher handshake: " + why);
        }
    } else {
        text.assign(marker);
        if (!read_clear_text(s.channel, text, deadline, why)) return refuse(s, deadline, why);
    }

    if (srv_fault_drop_at_login(opts)) {
        srv_log("conn %d %s: fault: connection dropped after the login text, without a verdict",
                s.id, s.peer.c_str());
        return false;
    }

    srv_login_text login;
    const char* reason = "";
    if (!srv_parse_login_text(text, login, &reason)) {
        return refuse(s, deadline, std::string("malformed login text: ") + reason);
    }
    auto user = std::find_if(opts.users.begin(), opts.users.end(),
                             [&](const srv_user& u) { return u.name == login.user; });
    if (user == opts.users.end()) {
        return refuse(s, deadline, "unknown user '" + srv_log_text(login.user) + "'");
    }
    if (!same_secret(login.password, user->password)) {
        return refuse(s, deadline, "wrong password for user '" + user->name + "'");
    }
    if (!srv_valid_database_name(login.database)) {
        return refuse(s, deadline, "invalid database name '" + srv_log_text(login.database) + "'");
    }
    s.db = open_database_file(opts, login.database, why);
    if (!s.db) return refuse(s, deadline, why);
    s.user = user->name;
    s.database = login.database;
    s.auto_commit = login.auto_commit;
    if (login.char_set) s.settings.char_set = *login.char_set;
    if (login.time_zone) s.settings.time_zone = *login.time_zone;
    if (login.iso_level) s.settings.iso_level = *login.iso_level;
    if (login.lock_timeout) s.settings.lock_timeout = *login.lock_timeout;
    // Logged before the verdict goes out, so that the line is there once the client has it.
    srv_log("conn %d %s: login accepted (%s): user '%s', database '%s', auto_commit %s", s.id,
            s.peer.c_str(), channel_name(s), s.user.c_str(), s.database.c_str(),
            s.auto_commit ? "on" : "off");
    if (!srv_send_all(s.channel, &verdict_accepted, 1, deadline)) {
        sqlite3_close(s.db);
        s.db = nullptr;
        return drop(s, "client gone before the verdict");
    }
    return true;
}

sqlite3* srv_open_database(const srv_options& opts, const std::string& name, std::string& why) {
    return open_database_file(opts, name, why);
}
