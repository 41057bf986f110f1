// Tests of the Turing keystream: the fixed tables against their files and recipes, every record
// of the keystream vectors (tests/crypto/vectors), key-length normalisation, register loading
// checks, and the own-cipher rule that each generated block serves 3400 stream bytes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/turing.h"
#include "crypto/turing_tables.h"

namespace {

using bytes = std::vector<unsigned char>;

const std::string vectors_dir = NORV_TURING_VECTORS_DIR;

// One record of vectors.txt: its fields by name and the comment line that introduces it.
struct vector_record {
    std::string what;
    std::map<std::string, std::string> fields;

    const std::string& get(const std::string& name) const {
        static const std::string none;
        auto it = fields.find(name);
        return it == fields.end() ? none : it->second;
    }
};

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<vector_record> read_vectors() {
    std::ifstream in(vectors_dir + "/vectors.txt");
    std::vector<vector_record> records;
    vector_record cur;
    std::string comment;
    std::string line;
    auto flush = [&] {
        if (!cur.fields.empty()) records.push_back(cur);
        cur = {};
        comment.clear();
    };
    while (std::getline(in, line)) {
        std::string t = trim(line);
        if (t.empty()) {
            flush();
        } else if (t[0] == '#') {
            if (cur.fields.empty() && comment.empty()) comment = trim(t.substr(1));
        } else {
            size_t eq = t.find('=');
            if (eq == std::string::npos) continue;
            if (cur.fields.empty()) cur.what = comment;
            cur.fields[trim(t.substr(0, eq))] = trim(t.substr(eq + 1));
        }
    }
    flush();
    return records;
}

bytes from_hex(const std::string& h) {
    bytes out;
    for (size_t i = 0; i + 1 < h.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoul(h.substr(i, 2), nullptr, 16)));
    }
    return out;
}

std::string to_hex(const unsigned char* p, size_t n) {
    std::string s;
    char b[3];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", p[i]);
        s += b;
    }
    return s;
}

std::string to_hex(const bytes& v) {
    return to_hex(v.data(), v.size());
}

std::vector<uint32_t> read_table(const std::string& name) {
    std::ifstream in(vectors_dir + "/" + name);
    std::vector<uint32_t> out;
    std::string line;
    while (std::getline(in, line))
        out.push_back(uint32_t(std::stoul(line, nullptr, 16)));
    return out;
}

// The state is large (4 KiB of S-boxes); tests keep it on the heap.
std::unique_ptr<turing_state> new_state() {
    return std::make_unique<turing_state>();
}

// The plain cipher's stream bytes [0, n): key set-up, vector loading, consecutive blocks.
bytes plain_stream(const bytes& key, const bytes& iv, size_t n) {
    auto s = new_state();
    turing_key(s.get(), key.data(), int(key.size()));
    EXPECT_TRUE(turing_iv(s.get(), iv.empty() ? nullptr : iv.data(), int(iv.size())));
    bytes out;
    unsigned char block[turing_block_bytes];
    while (out.size() < n) {
        EXPECT_EQ(turing_gen(s.get(), block), turing_block_bytes);
        out.insert(out.end(), block, block + turing_block_bytes);
    }
    out.resize(n);
    return out;
}

// The channel's stream bytes [0, n) built from generation calls alone, independent of
// keystream_apply: block k serves stream bytes 3400k .. 3400k + 3399, byte p taking
// block[p mod 340].
bytes channel_stream(const bytes& key, size_t n) {
    auto s = new_state();
    turing_key(s.get(), key.data(), int(key.size()));
    EXPECT_TRUE(turing_iv(s.get(), nullptr, 0));
    bytes out(n);
    unsigned char block[turing_block_bytes];
    for (size_t p = 0; p < n; ++p) {
        if (p % keystream_period == 0) turing_gen(s.get(), block);
        out[p] = block[(p % keystream_period) % turing_block_bytes];
    }
    return out;
}

const bytes key_00_1f = [] {
    bytes k(32);
    for (int i = 0; i < 32; ++i)
        k[size_t(i)] = static_cast<unsigned char>(i);
    return k;
}();

TEST(turing_tables, equal_the_hex_files) {
    auto sbox = read_table("sbox.hex");
    auto qbox = read_table("qbox.hex");
    auto multab = read_table("multab.hex");
    ASSERT_EQ(sbox.size(), 256u);
    ASSERT_EQ(qbox.size(), 256u);
    ASSERT_EQ(multab.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
        EXPECT_EQ(turing_sbox[i], sbox[i]) << "Sbox " << i;
        EXPECT_EQ(turing_qbox[i], qbox[i]) << "Qbox " << i;
        EXPECT_EQ(turing_multab[i], multab[i]) << "Multab " << i;
    }
    EXPECT_EQ(turing_qbox[0], 0x1faa1887u);
    EXPECT_EQ(turing_multab[1], 0xd02b4367u);
}

TEST(turing_tables, sbox_is_rc4_keyed_with_alan_turing_after_736_bytes) {
    const std::string key = "Alan Turing";
    unsigned char st[256];
    for (int i = 0; i < 256; ++i)
        st[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + st[i] + static_cast<unsigned char>(key[size_t(i) % key.size()])) & 0xFF;
        std::swap(st[i], st[j]);
    }
    for (int n = 0, i = 0, j = 0; n < 736; ++n) {
        i = (i + 1) & 0xFF;
        j = (j + st[i]) & 0xFF;
        std::swap(st[i], st[j]);
    }
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(turing_sbox[i], st[i]) << i;
}

TEST(turing_tables, sbox_is_a_permutation_without_fixed_points) {
    bool seen[256] = {};
    for (int i = 0; i < 256; ++i) {
        EXPECT_NE(turing_sbox[i], i);
        EXPECT_FALSE(seen[turing_sbox[i]]);
        seen[turing_sbox[i]] = true;
    }
}

TEST(turing_tables, multab_multiplies_each_byte_of_d02b4367_in_gf256) {
    auto gf_mul = [](uint32_t a, uint32_t b) {
        uint32_t p = 0;
        for (; b; b >>= 1) {
            if (b & 1) p ^= a;
            a <<= 1;
            if (a & 0x100) a ^= 0x14D;
        }
        return p;
    };
    const uint32_t c = 0xD02B4367;
    for (uint32_t x = 0; x < 256; ++x) {
        uint32_t want = 0;
        for (int b = 0; b < 32; b += 8)
            want |= gf_mul((c >> b) & 0xFF, x) << b;
        EXPECT_EQ(turing_multab[x], want) << x;
    }
}

TEST(turing_tables, multab_is_linear) {
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            ASSERT_EQ(turing_multab[a ^ b], turing_multab[a] ^ turing_multab[b]) << a << " " << b;
        }
    }
}

TEST(turing_vectors, file_holds_every_record) {
    auto records = read_vectors();
    std::map<std::string, int> kinds;
    for (const auto& r : records)
        ++kinds[r.get("kind")];
    EXPECT_EQ(records.size(), 132u);
    EXPECT_EQ(kinds["gen"], 125);
    EXPECT_EQ(kinds["system"], 5);
    EXPECT_EQ(kinds["iterate-key"], 1);
    EXPECT_EQ(kinds["iterate-iv"], 1);
}

TEST(turing_vectors, plain_keystream_equals_every_gen_record) {
    int checked = 0;
    for (const auto& r : read_vectors()) {
        if (r.get("kind") != "gen") continue;
        SCOPED_TRACE(r.what);
        bytes want = from_hex(r.get("out"));
        size_t offset = std::stoul(r.get("offset"));
        ASSERT_FALSE(want.empty());
        bytes got =
            plain_stream(from_hex(r.get("key")), from_hex(r.get("iv")), offset + want.size());
        EXPECT_EQ(to_hex(got.data() + offset, want.size()), r.get("out"));
        ++checked;
    }
    EXPECT_EQ(checked, 125);
}

TEST(turing_vectors, channel_keystream_equals_every_system_record) {
    int checked = 0;
    for (const auto& r : read_vectors()) {
        if (r.get("kind") != "system") continue;
        SCOPED_TRACE(r.what);
        bytes key = from_hex(r.get("key"));
        size_t offset = std::stoul(r.get("offset"));
        size_t len = r.get("out").size() / 2;
        auto s = new_state();
        keystream_init(s.get(), key.data(), int(key.size()));
        bytes zeros(offset + len, 0);
        keystream_apply(s.get(), zeros.data(), zeros.size());
        EXPECT_EQ(to_hex(zeros.data() + offset, len), r.get("out"));
        ++checked;
    }
    EXPECT_EQ(checked, 5);
}

TEST(turing_vectors, million_rekeyings_equal_the_iterate_key_record) {
    for (const auto& r : read_vectors()) {
        if (r.get("kind") != "iterate-key") continue;
        SCOPED_TRACE(r.what);
        int feed = std::stoi(r.get("feed"));
        long count = std::stol(r.get("count"));
        bytes buf = from_hex(r.get("key"));
        buf.resize(turing_block_bytes);
        auto s = new_state();
        for (long i = 0; i < count; ++i) {
            turing_key(s.get(), buf.data(), feed);
            ASSERT_TRUE(turing_iv(s.get(), nullptr, 0));
            turing_gen(s.get(), buf.data());
        }
        std::string want = r.get("out");
        EXPECT_EQ(to_hex(buf.data(), want.size() / 2), want);
        return;
    }
    FAIL() << "no iterate-key record";
}

TEST(turing_vectors, million_vector_loadings_equal_the_iterate_iv_record) {
    for (const auto& r : read_vectors()) {
        if (r.get("kind") != "iterate-iv") continue;
        SCOPED_TRACE(r.what);
        int feed = std::stoi(r.get("feed"));
        long count = std::stol(r.get("count"));
        bytes key = from_hex(r.get("key"));
        bytes iv = from_hex(r.get("iv"));
        bytes buf(turing_block_bytes);
        auto s = new_state();
        turing_key(s.get(), key.data(), int(key.size()));
        ASSERT_TRUE(turing_iv(s.get(), iv.empty() ? nullptr : iv.data(), int(iv.size())));
        turing_gen(s.get(), buf.data());
        for (long i = 0; i < count; ++i) {
            ASSERT_TRUE(turing_iv(s.get(), buf.data(), feed));
            turing_gen(s.get(), buf.data());
        }
        std::string want = r.get("out");
        EXPECT_EQ(to_hex(buf.data(), want.size() / 2), want);
        return;
    }
    FAIL() << "no iterate-iv record";
}

TEST(turing_key, uses_a_30_byte_key_as_its_first_28_bytes) {
    bytes key30(key_00_1f.begin(), key_00_1f.begin() + 30);
    bytes key28(key_00_1f.begin(), key_00_1f.begin() + 28);
    auto s = new_state();
    turing_key(s.get(), key30.data(), 30);
    EXPECT_EQ(s->key_len, 7);
    EXPECT_EQ(to_hex(plain_stream(key30, {}, 700)), to_hex(plain_stream(key28, {}, 700)));
}

TEST(turing_key, uses_a_40_byte_key_as_its_first_32_bytes) {
    bytes key40(40);
    for (int i = 0; i < 40; ++i)
        key40[size_t(i)] = static_cast<unsigned char>(i);
    auto s = new_state();
    turing_key(s.get(), key40.data(), 40);
    EXPECT_EQ(s->key_len, 8);
    EXPECT_EQ(to_hex(plain_stream(key40, {}, 700)), to_hex(plain_stream(key_00_1f, {}, 700)));
}

TEST(turing_key, cuts_every_other_length_to_whole_words_of_at_most_32_bytes) {
    auto s = new_state();
    const struct {
        int length;
        int words;
    } cases[] = {{0, 0},  {1, 0},  {3, 0},  {4, 1},  {5, 1},    {17, 4},
                 {31, 7}, {32, 8}, {33, 8}, {36, 8}, {1000, 8}, {-4, 0}};
    bytes big(1000, 0x5a);
    for (const auto& c : cases) {
        turing_key(s.get(), big.data(), c.length);
        EXPECT_EQ(s->key_len, c.words) << c.length;
    }
}

TEST(turing_key, with_no_key_words_each_sbox_passes_its_byte_through) {
    auto s = new_state();
    turing_key(s.get(), nullptr, 0);
    for (uint32_t j = 0; j < 256; ++j) {
        EXPECT_EQ(s->s0[j], j << 24);
        EXPECT_EQ(s->s1[j], j << 16);
        EXPECT_EQ(s->s2[j], j << 8);
        EXPECT_EQ(s->s3[j], j);
    }
}

TEST(turing_iv, refuses_a_length_that_is_not_whole_words) {
    auto s = new_state();
    turing_key(s.get(), key_00_1f.data(), 16);
    unsigned char iv[8] = {};
    EXPECT_FALSE(turing_iv(s.get(), iv, 3));
    EXPECT_FALSE(turing_iv(s.get(), iv, 6));
    EXPECT_FALSE(turing_iv(s.get(), iv, -4));
    EXPECT_TRUE(turing_iv(s.get(), iv, 8));
}

TEST(turing_iv, refuses_a_vector_that_does_not_fit_beside_the_key) {
    auto s = new_state();
    unsigned char iv[32] = {};
    turing_key(s.get(), key_00_1f.data(), 32);
    EXPECT_TRUE(turing_iv(s.get(), iv, 16));
    EXPECT_FALSE(turing_iv(s.get(), iv, 20));
    turing_key(s.get(), key_00_1f.data(), 16);
    EXPECT_TRUE(turing_iv(s.get(), iv, 32));
    EXPECT_FALSE(turing_iv(s.get(), iv, 36));
    EXPECT_FALSE(turing_iv(s.get(), nullptr, 4));
}

TEST(turing_gen, writes_exactly_340_bytes_and_returns_340) {
    auto s = new_state();
    turing_key(s.get(), key_00_1f.data(), 32);
    ASSERT_TRUE(turing_iv(s.get(), nullptr, 0));
    bytes out(turing_block_bytes + 16, 0xEE);
    EXPECT_EQ(turing_gen(s.get(), out.data()), 340);
    for (size_t i = turing_block_bytes; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(keystream, init_generates_the_first_block_at_position_0) {
    auto s = new_state();
    keystream_init(s.get(), key_00_1f.data(), 32);
    EXPECT_EQ(s->position, 0);
    EXPECT_EQ(to_hex(s->block, turing_block_bytes), to_hex(plain_stream(key_00_1f, {}, 340)));
}

TEST(keystream, reuses_each_block_for_3400_bytes) {
    bytes blocks = plain_stream(key_00_1f, {}, 3 * turing_block_bytes);
    auto s = new_state();
    keystream_init(s.get(), key_00_1f.data(), 32);
    bytes z(2 * keystream_period + 1, 0);
    keystream_apply(s.get(), z.data(), z.size());
    for (size_t p = 0; p < z.size(); ++p) {
        size_t block = p / keystream_period;
        ASSERT_EQ(z[p], blocks[block * turing_block_bytes + p % turing_block_bytes]) << p;
    }
    EXPECT_EQ(s->position, 1);
}

TEST(keystream, byte_3401_takes_the_first_byte_of_a_fresh_block) {
    bytes blocks = plain_stream(key_00_1f, {}, 2 * turing_block_bytes);
    ASSERT_NE(blocks[0], blocks[turing_block_bytes]);  // else the check below proves nothing
    auto s = new_state();
    keystream_init(s.get(), key_00_1f.data(), 32);
    bytes z(keystream_period + 1, 0);
    keystream_apply(s.get(), z.data(), z.size());
    EXPECT_EQ(z[keystream_period - turing_block_bytes], blocks[0]);
    EXPECT_EQ(z[keystream_period], blocks[turing_block_bytes]);
}

TEST(keystream, apply_over_odd_spans_equals_byte_by_byte_application) {
    std::mt19937 rng(7);
    bytes data(4 * keystream_period + 777);
    for (auto& b : data)
        b = static_cast<unsigned char>(rng());
    bytes want = channel_stream(key_00_1f, data.size());
    for (size_t i = 0; i < data.size(); ++i)
        want[i] ^= data[i];

    auto one = new_state();
    keystream_init(one.get(), key_00_1f.data(), 32);
    bytes by_byte = data;
    for (auto& b : by_byte)
        keystream_apply(one.get(), &b, 1);
    EXPECT_EQ(by_byte, want);

    const size_t spans[] = {1, 3, 339, 341, 0, 2, 3399, 3401, 17, 680, 5, 1021, 6801};
    auto s = new_state();
    keystream_init(s.get(), key_00_1f.data(), 32);
    bytes spanned = data;
    size_t done = 0;
    for (size_t k = 0; done < spanned.size(); ++k) {
        size_t n = std::min(spans[k % std::size(spans)], spanned.size() - done);
        keystream_apply(s.get(), spanned.data() + done, n);
        done += n;
    }
    EXPECT_EQ(spanned, want);
    EXPECT_EQ(s->position, one->position);
}

TEST(keystream, apply_copy_leaves_the_source_and_matches_in_place) {
    bytes src(keystream_period + 999);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<unsigned char>(i * 31);
    const bytes original = src;
    auto a = new_state();
    auto b = new_state();
    keystream_init(a.get(), key_00_1f.data(), 32);
    keystream_init(b.get(), key_00_1f.data(), 32);
    bytes copied(src.size());
    bytes in_place = src;
    for (size_t done = 0, n = 7; done < src.size(); done += n, n = n * 3 % 1111 + 1) {
        n = std::min(n, src.size() - done);
        keystream_apply_copy(a.get(), copied.data() + done, src.data() + done, n);
        keystream_apply(b.get(), in_place.data() + done, n);
    }
    EXPECT_EQ(src, original);
    EXPECT_EQ(copied, in_place);
    EXPECT_NE(copied, original);
}

TEST(keystream, the_peer_direction_with_the_same_key_deciphers) {
    bytes text(3 * keystream_period + 5);
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<unsigned char>(i % 251);
    auto sender = new_state();
    auto receiver = new_state();
    keystream_init(sender.get(), key_00_1f.data(), 32);
    keystream_init(receiver.get(), key_00_1f.data(), 32);
    bytes wire(text.size());
    keystream_apply_copy(sender.get(), wire.data(), text.data(), text.size());
    for (size_t done = 0; done < wire.size(); done += 1000) {
        keystream_apply(receiver.get(), wire.data() + done,
                        std::min<size_t>(1000, wire.size() - done));
    }
    EXPECT_EQ(wire, text);
}

}  // namespace
