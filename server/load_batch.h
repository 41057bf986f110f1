// The data of a streamed load as it arrives after the int64 exchange: batches of int32 record
// count, int32 body length and the body, per record an int32 length L and L bytes; a record
// count of 0 alone ends the data. Here: the bounds every count and length is checked against,
// reading one batch off the connection, and walking its records and their fields in place.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "server/wire.h"

// Body bytes of one batch at most. The console sends bodies of about its 8 MiB chunk; the bound
// leaves room for a long record carried whole, and matches the largest statement parameter.
inline constexpr int32_t srv_load_body_max = int32_t{1} << 30;
inline constexpr size_t srv_load_record_prefix = 4;  // the int32 length before each record

// The record that stops a load on purpose, for tests of the console: its whole text (without
// its final separator) is this.
inline constexpr std::string_view srv_load_stop_record = "#norvlite-stop#";

// A reusable body buffer: it grows with the bytes that arrive (never with an announced length
// alone) and is kept from batch to batch, so a load allocates only while batches grow.
struct srv_load_buffer {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;  // bytes allocated
    size_t size = 0;      // bytes of the current body
};

enum class srv_batch_status {
    batch,      // count >= 1 and the body are in place
    end,        // the record count 0 that ends the data
    closed,     // the peer closed before the batch was whole
    failed,     // a receive error, or the deadline passed
    malformed,  // a count or length out of bounds; why says which
};

// Checks a batch header: 1 <= count, 0 <= body_length <= srv_load_body_max, and room in the
// body for count length prefixes. Returns false with a one-line reason in why. Pure.
bool srv_load_check_header(int32_t count, int32_t body_length, std::string& why);

// Reads the next batch: the record count, and for a count other than 0 the body length and the
// body into body (count set). The whole batch must arrive before the deadline. The records
// themselves are checked by srv_next_record. Connection thread.
srv_batch_status srv_load_read_batch(srv_reader& r, srv_load_buffer& body, int32_t& count,
                                     srv_deadline deadline, std::string& why);

// The two halves of srv_load_read_batch, for a reader that acts between them. The header: the
// record count and, for a count other than 0, the body length, checked (status batch, or end
// for the count 0). Then the body of length bytes into body. Connection thread.
srv_batch_status srv_load_read_header(srv_reader& r, int32_t& count, int32_t& length,
                                      srv_deadline deadline, std::string& why);
srv_batch_status srv_load_read_body(srv_reader& r, srv_load_buffer& body, int32_t length,
                                    srv_deadline deadline);

// Walks the records of a body in place.
struct srv_record_walk {
    const char* p = nullptr;    // the next length prefix
    const char* end = nullptr;  // the end of the body
    int32_t left = 0;           // records still announced
};

inline srv_record_walk srv_walk_records(const char* body, size_t size, int32_t count) {
    return {body, body + size, count};
}

enum class srv_record_status {
    record,     // record is the next one
    done,       // every announced record was read and the body is used up exactly
    malformed,  // why says what does not fit
};

// The next record, checked: its length prefix must lie in the body, the length be 0 or more and
// at most what remains of the body; after the last announced record nothing may remain.
srv_record_status srv_next_record(srv_record_walk& w, std::string_view& record, std::string& why);

// Walks the fields of a record: each ends at a separator; a separator as the record's last byte
// ends the last field (it opens no empty one), and without it the last field runs to the end.
// An empty record is one empty field.
struct srv_field_walk {
    std::string_view rest;
    char separator = '|';
    bool done = false;
};

inline bool srv_next_field(srv_field_walk& w, std::string_view& field) {
    if (w.done) return false;
    const void* hit =
        w.rest.empty() ? nullptr : std::memchr(w.rest.data(), w.separator, w.rest.size());
    if (!hit) {
        field = w.rest;
        w.done = true;
        return true;
    }
    const size_t n = static_cast<size_t>(static_cast<const char*>(hit) - w.rest.data());
    field = w.rest.substr(0, n);
    w.rest.remove_prefix(n + 1);
    w.done = w.rest.empty();
    return true;
}

// True when record is the stop record, with or without its final separator.
inline bool srv_is_stop_record(std::string_view record, char separator) {
    if (!record.empty() && record.back() == separator) record.remove_suffix(1);
    return record == srv_load_stop_record;
}
