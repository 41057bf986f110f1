// The statement message a logged-in client sends, read and checked field by field:
//   '?', int32 n, n text bytes, one zero byte, int32 parameter count, then per parameter
//   int16 0, int16 1, int16 type (34 = bytes, 32 = text), int32 length, the bytes.
// Every length and count is checked against srv_message_limits before it is used.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/type_codes.h"
#include "server/wire.h"

inline constexpr char srv_statement_letter = '?';
inline constexpr int srv_param_type_text = db_type_clob;   // bound as text
inline constexpr int srv_param_type_bytes = db_type_blob;  // bound as a blob

struct srv_message_limits {
    size_t max_text = size_t{64} << 20;         // statement text bytes
    int max_params = 100;                       // the client binds at most 100
    size_t max_param = size_t{1} << 30;         // bytes of one parameter
    size_t max_params_total = size_t{1} << 30;  // bytes of all parameters of one message
};

struct srv_param {
    int type = srv_param_type_text;  // srv_param_type_text or srv_param_type_bytes
    std::string bytes;
};

struct srv_statement {
    std::string text;               // without the zero byte
    std::vector<srv_param> params;  // in order; params[0] binds the first '?'
};

enum class srv_message_status {
    ok,
    closed,     // the peer closed before the first byte of a message
    idle,       // nothing arrived before the idle deadline (or a receive failed there)
    malformed,  // a wrong letter or field, a bound exceeded, or the message cut short
};

// Reads one message into out (its old contents replaced, capacity reused). The first byte may
// take until idle_deadline; the rest of the message must arrive within message_time after it.
// Memory grows with the bytes actually received, never with a declared length alone.
// On malformed, why holds a one-line reason. Connection thread.
srv_message_status srv_read_statement(srv_reader& r, srv_statement& out,
                                      const srv_message_limits& limits, srv_deadline idle_deadline,
                                      std::chrono::milliseconds message_time, std::string& why);
