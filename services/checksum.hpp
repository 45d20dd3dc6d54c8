// Checksums and digests: what the `checksum` native computes and what the zlib
// and gzip framings check their data with.
//
// CRC-32, Adler-32 and the internet checksum are computed here; MD5, SHA-1,
// SHA-256, SHA-384 and SHA-512 come from libcrypto's EVP digest interface
// (services/crypto.cpp), and HMAC is built on top of those digests. Every
// routine reads its data through a pointer and allocates no series, so the
// data may lie in a series buffer.
#pragma once

#include <string>
#include <vector>

#include "runtime/base.hpp"

namespace zir {
namespace checksum {

// Method codes of the digests and of the two checksums that have one.
enum MethodCode : i32 {
    CODE_TCP = 0,
    CODE_CRC32 = 1,
    CODE_MD5 = 2,
    CODE_SHA1 = 3,
    CODE_SHA256 = 4,
    CODE_SHA384 = 5,
    CODE_SHA512 = 6,
};

// The longest digest (SHA-512), the size of every digest buffer.
constexpr i32 MAX_DIGEST = 64;

// The method words' symbols, made by `init`.
extern i32 sym_tcp, sym_md5, sym_sha1, sym_crc32, sym_adler32, sym_sha256, sym_sha384, sym_sha512,
    sym_hash;

// Makes the nine method words (start-up, after the symbol table).
void init();

// Whether a symbol (any spelling of it) is one of the nine method words.
bool method_q(i32 symbol);
// The method code of a method word; -1 for adler32, hash and other words.
i32 method_code(i32 symbol);
// The digest size in bytes of a method code; 0 for a code without a digest.
i32 digest_size(i32 code);
// The method word's symbol of a code, 0 when there is none.
i32 code_symbol(i32 code);

// Reflected CRC-32 (polynomial 0xEDB88320, ISO 3309 / ITU-T V.42), as zlib
// and gzip use it. `crc32_update` continues a CRC already computed.
u32 crc32(const u8* data, i64 length);
u32 crc32_update(u32 crc, const u8* data, i64 length);
// Whether long data is folded by carry-less multiplication (where the
// processor has it); tests turn it off to run the table code alone.
bool crc_folding_on();
void set_crc_folding(bool on);

// Adler-32 of RFC 1950; `adler32_update` continues one already computed (1
// for no data).
u32 adler32(const u8* data, i64 length);
u32 adler32_update(u32 adler, const u8* data, i64 length);

// The internet checksum of RFC 1071 over 16-bit big-endian words (an odd last
// byte is the high byte of a word whose low byte is 0): the complement of the
// ones'-complement sum, 0..0xFFFF.
u32 tcp(const u8* data, i64 length);

// HMAC (RFC 2104) of the data under the key with the digest of `code`
// (CODE_MD5..CODE_SHA512) into `out`; answers the digest size. Raises as
// `crypto::hash` does.
i32 hmac(const u8* data, i64 length, const u8* key, i64 key_length, i32 code, u8* out);

// The stand-in of `checksum/with data 'hash size`: prints that it is not
// supported and answers 0.
i32 hash_stub(const u8* data, i64 length, i32 size);

}  // namespace checksum

namespace crypto {

// Opens libcrypto and fetches the digest implementations, once: the first
// digest calls it (a run that computes none neither opens the library nor
// fetches). A digest that cannot be had, the library missing included, is
// reported when it is asked for.
void acquire_context();

// The names the library is looked for under, in turn (tests change them).
extern std::vector<std::string> library_names;

// The digest of `code` (checksum::CODE_MD5..CODE_SHA512) of the data into
// `out`, which holds checksum::MAX_DIGEST bytes; answers the digest size.
// Another code raises `script invalid-arg` with the code; a digest that
// libcrypto cannot compute raises `internal not-here` with the method word.
i32 hash(const u8* data, i64 length, i32 code, u8* out);

// The streaming form behind `hash` and HMAC: parts of the message are added
// in turn. A context holds libcrypto state and must be ended with `finish`
// or released by its destructor (which an error raised in between runs).
struct Digest {
    explicit Digest(i32 code);
    ~Digest();
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;
    void add(const u8* data, i64 length);
    i32 finish(u8* out);   // answers the digest size

    i32 code;
    void* ctx;   // EVP_MD_CTX
};

// Test hook: when set to n, the n-th libcrypto call of the digests from then
// on fails, as calls do when the provider refuses an algorithm.
extern u32 refuse_digests;

}  // namespace crypto
}  // namespace zir
