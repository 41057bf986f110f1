// Reads the login text into srv_login_text. Values are not escaped by the client, so the parser
// finds each quoted value's end by trying every closing quote that the next piece could follow,
// and keeps the first one after which the whole rest of the text parses.
#include "server/login_text.h"

#include <array>
#include <charconv>

namespace {

constexpr std::string_view head = "login database = ";
constexpr std::string_view user_key = " user='";
constexpr std::string_view password_key = "' password='";
constexpr std::string_view auto_commit_key = " auto_commit = '";
constexpr std::string_view version_key = " version = '";

// The optional pieces, in the only order the client sends them; lock_timeout is unquoted.
enum field_id { f_encryptor, f_char_set, f_time_zone, f_iso_level, f_lock_timeout, f_count };
constexpr std::array<std::string_view, f_count> field_keys = {
    " encryptor = '", " char_set = '", " time_zone = '", " iso_level = '", " lock_timeout = ",
};

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Parses " auto_commit = 'on|off' version = 'DIGITS'" which must be the whole of rest.
bool parse_tail(std::string_view rest, srv_login_text& out, const char** reason) {
    if (!rest.starts_with(auto_commit_key)) {
        *reason = "auto_commit missing or out of order";
        return false;
    }
    rest.remove_prefix(auto_commit_key.size());
    if (rest.starts_with("on'")) {
        out.auto_commit = true;
        rest.remove_prefix(3);
    } else if (rest.starts_with("off'")) {
        out.auto_commit = false;
        rest.remove_prefix(4);
    } else {
        *reason = "auto_commit is neither 'on' nor 'off'";
        return false;
    }
    if (!rest.starts_with(version_key)) {
        *reason = "version missing";
        return false;
    }
    rest.remove_prefix(version_key.size());
    if (rest.empty() || rest.back() != '\'') {
        *reason = "version not closed by a quote at the end of the text";
        return false;
    }
    rest.remove_suffix(1);
    int version = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), version);
    if (!all_digits(rest) || ec != std::errc() || end != rest.data() + rest.size()) {
        *reason = "version is not a number";
        return false;
    }
    out.version = version;
    return true;
}

std::optional<std::string>& field_slot(srv_login_text& out, int id) {
    switch (id) {
        case f_encryptor:
            return out.encryptor;
        case f_char_set:
            return out.char_set;
        case f_time_zone:
            return out.time_zone;
        default:
            return out.iso_level;
    }
}

// True when rest, which follows a closing quote, starts with the key of a piece from
// first_allowed on, or with the auto_commit piece that always follows.
bool next_piece_starts(std::string_view rest, int first_allowed) {
    for (int id = first_allowed; id < f_count; ++id) {
        if (rest.starts_with(field_keys[id])) return true;
    }
    return rest.starts_with(auto_commit_key);
}

bool parse_fields(std::string_view rest, int first_allowed, srv_login_text& out,
                  const char** reason);

// rest starts just after the opening quote of a value that ends in a quote followed by a piece
// from first_allowed on. Tries each such quote in order; the first that lets the rest parse
// wins and its value is stored through store. A value is stored only once everything after
// it has parsed, so a failed attempt leaves no field behind.
template <typename Store>
bool parse_quoted(std::string_view rest, int first_allowed, srv_login_text& out,
                  const char** reason, Store store) {
    const char* last_reason = "value not closed by a quote";
    for (size_t q = rest.find('\''); q != std::string_view::npos; q = rest.find('\'', q + 1)) {
        std::string_view after = rest.substr(q + 1);
        if (!next_piece_starts(after, first_allowed)) continue;
        if (parse_fields(after, first_allowed, out, &last_reason)) {
            store(rest.substr(0, q));
            return true;
        }
    }
    *reason = last_reason;
    return false;
}

// Parses the optional pieces from first_allowed on, then the tail.
bool parse_fields(std::string_view rest, int first_allowed, srv_login_text& out,
                  const char** reason) {
    for (int id = first_allowed; id < f_count; ++id) {
        if (!rest.starts_with(field_keys[id])) continue;
        std::string_view value = rest.substr(field_keys[id].size());
        if (id == f_lock_timeout) {
            size_t n = 0;
            if (n < value.size() && value[n] == '-') ++n;
            while (n < value.size() && value[n] >= '0' && value[n] <= '9')
                ++n;
            std::int32_t number = 0;
            auto [end, ec] = std::from_chars(value.data(), value.data() + n, number);
            if (n == 0 || ec != std::errc() || end != value.data() + n) {
                *reason = "lock_timeout is not a 32-bit number";
                return false;
            }
            if (!parse_tail(value.substr(n), out, reason)) return false;
            out.lock_timeout = number;
            return true;
        }
        return parse_quoted(value, id + 1, out, reason, [&out, id](std::string_view v) {
            field_slot(out, id) = std::string(v);
        });
    }
    return parse_tail(rest, out, reason);
}

}  // namespace

bool srv_parse_login_text(std::string_view text, srv_login_text& out, const char** reason) {
    out = srv_login_text{};
    if (!text.starts_with(head)) {
        *reason = "does not start with \"login database = \"";
        return false;
    }
    std::string_view rest = text.substr(head.size());
    size_t user_at = rest.find(user_key);
    if (user_at == std::string_view::npos) {
        *reason = "user missing";
        return false;
    }
    out.database = rest.substr(0, user_at);
    rest.remove_prefix(user_at + user_key.size());
    size_t password_at = rest.find(password_key);
    if (password_at == std::string_view::npos) {
        *reason = "password missing";
        return false;
    }
    out.user = rest.substr(0, password_at);
    rest.remove_prefix(password_at + password_key.size());
    std::string password;
    bool ok = parse_quoted(rest, f_encryptor, out, reason,
                           [&password](std::string_view v) { password = v; });
    if (ok) out.password = std::move(password);
    return ok;
}

bool srv_login_text_complete(std::string_view text) {
    if (text.empty() || text.back() != '\'') return false;
    text.remove_suffix(1);
    size_t digits = 0;
    while (digits < text.size() && text[text.size() - 1 - digits] >= '0' &&
           text[text.size() - 1 - digits] <= '9') {
        ++digits;
    }
    if (digits == 0) return false;
    text.remove_suffix(digits);
    return text.ends_with(version_key);
}

bool srv_valid_database_name(std::string_view name) {
    constexpr size_t max_database_name = 64;
    if (name.empty() || name.size() > max_database_name || name.front() == '.') return false;
    if (name.find("..") != std::string_view::npos) return false;
    for (char c : name) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '.' || c == '-';
        if (!ok) return false;
    }
    return true;
}
