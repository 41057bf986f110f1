// Reads a load's batches off the connection and checks their framing. A batch body is read with
// receives as large as the rest of it, straight into a buffer kept for the whole load; every
// count and length is checked before anything is read or walked on its word.
#include "server/load_batch.h"

#include <algorithm>

namespace {

// While a body arrives the buffer grows by at most what has arrived so far (and at least this),
// so a client must send bytes to make norvlite hold them.
inline constexpr size_t body_grow_min = size_t{1} << 20;

int32_t get_i32(const char* p) {
    return static_cast<int32_t>(srv_get_be(reinterpret_cast<const unsigned char*>(p), 4));
}

srv_batch_status from_recv(srv_recv_status st) {
    return st == srv_recv_status::closed ? srv_batch_status::closed : srv_batch_status::failed;
}

void reserve(srv_load_buffer& b, size_t want) {
    if (want <= b.capacity) return;
    const size_t cap = std::max(want, b.capacity * 2);
    std::unique_ptr<char[]> bigger(new char[cap]);
    if (b.size > 0) std::memcpy(bigger.get(), b.data.get(), b.size);
    b.data = std::move(bigger);
    b.capacity = cap;
}

}  // namespace

bool srv_load_check_header(int32_t count, int32_t body_length, std::string& why) {
    if (count < 1) {
        why = "batch record count " + std::to_string(count);
        return false;
    }
    if (body_length < 0 || body_length > srv_load_body_max) {
        why = "batch body length " + std::to_string(body_length) + " (at most " +
              std::to_string(srv_load_body_max) + ")";
        return false;
    }
    if (static_cast<uint64_t>(count) * srv_load_record_prefix >
        static_cast<uint64_t>(body_length)) {
        why = "batch of " + std::to_string(count) + " records in a body of " +
              std::to_string(body_length) + " bytes";
        return false;
    }
    return true;
}

srv_batch_status srv_load_read_header(srv_reader& r, int32_t& count, int32_t& length,
                                      srv_deadline deadline, std::string& why) {
    char head[4];
    if (srv_recv_status st = srv_read_exact(r, head, 4, deadline); st != srv_recv_status::ok) {
        return from_recv(st);
    }
    count = get_i32(head);
    if (count == 0) return srv_batch_status::end;
    if (count < 0) {  // refused at once, without waiting for a body length
        why = "batch record count " + std::to_string(count);
        return srv_batch_status::malformed;
    }
    if (srv_recv_status st = srv_read_exact(r, head, 4, deadline); st != srv_recv_status::ok) {
        return from_recv(st);
    }
    length = get_i32(head);
    if (!srv_load_check_header(count, length, why)) return srv_batch_status::malformed;
    return srv_batch_status::batch;
}

srv_batch_status srv_load_read_body(srv_reader& r, srv_load_buffer& body, int32_t length,
                                    srv_deadline deadline) {
    body.size = 0;
    const size_t total = static_cast<size_t>(length);
    while (body.size < total) {
        const size_t step = std::min(total - body.size, std::max(body.size, body_grow_min));
        reserve(body, body.size + step);
        if (srv_recv_status st = srv_read_exact(r, body.data.get() + body.size, step, deadline);
            st != srv_recv_status::ok) {
            return from_recv(st);
        }
        body.size += step;
    }
    return srv_batch_status::batch;
}

srv_batch_status srv_load_read_batch(srv_reader& r, srv_load_buffer& body, int32_t& count,
                                     srv_deadline deadline, std::string& why) {
    body.size = 0;
    int32_t length = 0;
    srv_batch_status st = srv_load_read_header(r, count, length, deadline, why);
    if (st != srv_batch_status::batch) return st;
    return srv_load_read_body(r, body, length, deadline);
}

srv_record_status srv_next_record(srv_record_walk& w, std::string_view& record, std::string& why) {
    const size_t remaining = static_cast<size_t>(w.end - w.p);
    if (w.left == 0) {
        if (remaining == 0) return srv_record_status::done;
        why = std::to_string(remaining) + " bytes after the last record of a batch";
        return srv_record_status::malformed;
    }
    if (remaining < srv_load_record_prefix) {
        why = "a batch body ends before its " + std::to_string(w.left) + " last records";
        return srv_record_status::malformed;
    }
    const int32_t length = get_i32(w.p);
    if (length < 0 || static_cast<size_t>(length) > remaining - srv_load_record_prefix) {
        why = "record length " + std::to_string(length) + " with " +
              std::to_string(remaining - srv_load_record_prefix) + " bytes left in the batch";
        return srv_record_status::malformed;
    }
    record = std::string_view(w.p + srv_load_record_prefix, static_cast<size_t>(length));
    w.p += srv_load_record_prefix + static_cast<size_t>(length);
    --w.left;
    return srv_record_status::record;
}
