// The login text a client sends first, and the database-name rule of the login verdict.
// Pure functions over text, without I/O, so each case is tested on its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Login text limit: the client builds the text in a 256-byte buffer with its zero byte, so a
// text has at most login_text_size - 1 characters. On TLS the whole buffer travels.
inline constexpr int login_text_size = 256;

struct srv_login_text {
    std::string database;  // as sent, not yet checked as a file name
    std::string user;
    std::string password;                  // may contain '
    std::optional<std::string> encryptor;  // opaque to the server
    std::optional<std::string> char_set;
    std::optional<std::string> time_zone;
    std::optional<std::string> iso_level;
    std::optional<std::int32_t> lock_timeout;  // sent only when > 0, but any int32 is read
    bool auto_commit = false;
    int version = 0;  // the client sends 202
};

// Parses a complete login text:
//   login database = DB user='USER' password='PASSWORD'[ encryptor = 'X'][ char_set = 'X']
//   [ time_zone = 'X'][ iso_level = 'X'][ lock_timeout = N] auto_commit = 'on'|'off'
//   version = 'DIGITS'
// Values are verbatim (quotes inside them are not escaped). A quoted value ends at the first
// quote after which the rest of the text parses, so a password containing ' works.
// Returns false and a short static reason on anything else; out may then hold partial values.
bool srv_parse_login_text(std::string_view text, srv_login_text& out, const char** reason);

// True when the clear login text held so far is complete: it ends in " version = '<digits>'".
bool srv_login_text_complete(std::string_view text);

// True when name can be a database file name: 1 to 64 of [A-Za-z0-9_.-], not starting with
// '.', without "..". The database then is the file DIR/NAME.db.
bool srv_valid_database_name(std::string_view name);
