// Fuzz target: the reply reader on the clear channel. The input is whatever the server sends
// after a statement; the result, when there is one, is listed as the console lists it.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/reply_peer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reply_fuzz_init();
    socket_pair sp;
    socket_pair::conn_ptr conn = sp.conn();
    execute_against(sp, conn.get(), data, size);
    return 0;
}
