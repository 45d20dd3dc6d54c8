// Digests through libcrypto's EVP interface: see checksum.hpp.
//
// The five digest implementations are fetched once and kept: an implicit
// fetch on every digest would search the providers each time. Every call into
// libcrypto is checked; a digest that cannot be computed is an error, never a
// buffer of whatever the output held.
#include <openssl/evp.h>

#include "datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "services/checksum.hpp"

namespace zir {
namespace crypto {

u32 refuse_digests = 0;

namespace {

using checksum::CODE_MD5;
using checksum::CODE_SHA512;

const char* const algorithm_names[] = {"MD5", "SHA1", "SHA256", "SHA384", "SHA512"};
EVP_MD* algorithms[5];
bool acquired = false;

bool refused() { return refuse_digests && --refuse_digests == 0; }

[[noreturn]] void invalid_code(i32 code) {
    Cell c;
    cell::init(&c, TYPE_INTEGER);
    c.w2 = u32(code);
    fire(ERR_SCRIPT, "invalid-arg", &c);
}

// The method word names what the system could not do.
[[noreturn]] void not_here(i32 code) {
    Cell word = *word::from_symbol(checksum::code_symbol(code));
    fire(ERR_INTERNAL, "not-here", &word);
}

}  // namespace

void acquire_context() {
    for (int i = 0; i < 5; i++) {
        if (!algorithms[i]) algorithms[i] = EVP_MD_fetch(nullptr, algorithm_names[i], nullptr);
    }
    acquired = true;
}

Digest::Digest(i32 c) : code(c), ctx(nullptr) {
    if (code < CODE_MD5 || code > CODE_SHA512) invalid_code(code);
    if (!acquired) acquire_context();
    const EVP_MD* md = algorithms[code - CODE_MD5];
    EVP_MD_CTX* context = md ? EVP_MD_CTX_new() : nullptr;
    if (!context || refused() || EVP_DigestInit_ex(context, md, nullptr) != 1) {
        EVP_MD_CTX_free(context);   // the destructor of a failed constructor does not run
        not_here(code);
    }
    ctx = context;
}

Digest::~Digest() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx)); }

void Digest::add(const u8* data, i64 length) {
    if (length <= 0) return;
    if (refused() || EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx), data, size_t(length)) != 1)
        not_here(code);
}

i32 Digest::finish(u8* out) {
    unsigned int n = 0;
    if (refused() || EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx), out, &n) != 1 ||
        i32(n) != checksum::digest_size(code))
        not_here(code);
    return i32(n);
}

i32 hash(const u8* data, i64 length, i32 code, u8* out) {
    Digest d(code);
    d.add(data, length);
    return d.finish(out);
}

}  // namespace crypto
}  // namespace zir
