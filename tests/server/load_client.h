// The console's side of a streamed load for the norvlite tests, spelled from the wire layout and
// independently of the server's code: the data's bytes (records, batches, the end marker), the
// replies read back, and a clear-socket load that sends on one thread while it reads on another,
// as the console does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/server/test_client.h"

// "LOAD TABLE t         FROM STREAM ... TERMINATED BY 'c'  PARALLEL 1,1 ;" as the console spaces
// it; mode 0 insert, 1 append, 2 replace.
std::string load_statement_text(std::string_view table, char separator = '|', int mode = 0);

// int32 length and the bytes.
std::string load_record(std::string_view bytes);
// int32 count, int32 body length, the records.
std::string load_batch(const std::vector<std::string>& records);
// The record count 0 that ends the data.
std::string load_end();

struct load_reply {
    char letter = 0;  // 'W' or 'E'
    std::string text;
    bool operator==(const load_reply&) const = default;
};

struct load_outcome {
    std::string refusal;              // the "E" text when the statement was refused
    char after_refusal = 0;           // the letter after a refusal text
    bool accepted = false;            // "K" and the int64 exchange went through
    std::vector<load_reply> replies;  // "W" and "E" in order
    bool ended = false;               // the closing "K" came
    std::string why;                  // what went wrong on the client's side
};

// Sends the statement on a logged-in clear socket, then (when accepted) the int64 exchange and
// data from a second thread while this one reads the replies up to the closing "K", each read
// waiting at most timeout_ms.
load_outcome run_clear_load(const test_socket& s, std::string_view statement_text,
                            std::string_view data, int timeout_ms = 10000);

// The length of the whole statement reply at the start of bytes (messages up to and including
// its "K"), or 0 while it is not whole. Knows every reply letter of norvlite.
size_t statement_reply_length(std::string_view bytes);

// Sends sql as a statement message and reads its whole reply (empty when it does not come whole
// within timeout_ms).
std::string ask_statement(const test_socket& s, std::string_view sql, int timeout_ms = 5000);

// Reads replies ("W"/"E" texts until "K") from bytes; ended tells whether "K" was among them.
// Returns the bytes used.
size_t parse_load_replies(std::string_view bytes, std::vector<load_reply>& out, bool& ended);
