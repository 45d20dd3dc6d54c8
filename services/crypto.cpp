// Digests through libcrypto's EVP interface: see checksum.hpp.
//
// The program does not link libcrypto: the library is opened with dlopen on
// the first digest (its own start-up asks the processor about itself, which
// a run without digests need not pay for). The five
// digest implementations are then fetched once and kept: an implicit fetch
// on every digest would search the providers each time. Every call into
// libcrypto is checked; a digest that cannot be computed is an error, never a
// buffer of whatever the output held.
#include <dlfcn.h>
#include <openssl/evp.h>   // the interface's types and signatures only

#include <mutex>

#include "datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/platform.hpp"
#include "services/checksum.hpp"

namespace zir {
namespace crypto {

u32 refuse_digests = 0;

namespace {

using checksum::CODE_MD5;
using checksum::CODE_SHA512;

const char* const algorithm_names[] = {"MD5", "SHA1", "SHA256", "SHA384", "SHA512"};
EVP_MD* algorithms[5];

// The entries of libcrypto the digests call, found once by name.
struct CryptoApi {
    decltype(&EVP_MD_fetch) md_fetch;
    decltype(&EVP_MD_CTX_new) ctx_new;
    decltype(&EVP_MD_CTX_free) ctx_free;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
};
CryptoApi api{};
bool loaded = false;
std::once_flag load_once;

// Opens the library under the first of its names that the system has, and
// finds the entries; leaves `loaded` false when it cannot.
void load_library() {
    void* handle = platform::open_library(library_names, nullptr);
    if (!handle) return;
    bool complete = true;
    auto get = [&](auto& slot, const char* symbol) { complete &= platform::find_entry(handle, slot, symbol); };
    get(api.md_fetch, "EVP_MD_fetch");
    get(api.ctx_new, "EVP_MD_CTX_new");
    get(api.ctx_free, "EVP_MD_CTX_free");
    get(api.init, "EVP_DigestInit_ex");
    get(api.update, "EVP_DigestUpdate");
    get(api.final, "EVP_DigestFinal_ex");
    if (!complete) {
        dlclose(handle);
        return;
    }
    for (int i = 0; i < 5; i++) algorithms[i] = api.md_fetch(nullptr, algorithm_names[i], nullptr);
    loaded = true;
}

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

std::vector<std::string> library_names = {"libcrypto.so.3", "libcrypto.so"};

void acquire_context() { std::call_once(load_once, load_library); }

Digest::Digest(i32 c) : code(c), ctx(nullptr) {
    if (code < CODE_MD5 || code > CODE_SHA512) invalid_code(code);
    acquire_context();
    const EVP_MD* md = loaded ? algorithms[code - CODE_MD5] : nullptr;
    EVP_MD_CTX* context = md ? api.ctx_new() : nullptr;
    if (!context || refused() || api.init(context, md, nullptr) != 1) {
        if (context) api.ctx_free(context);   // the destructor of a failed constructor does not run
        not_here(code);
    }
    ctx = context;
}

Digest::~Digest() {
    if (ctx) api.ctx_free(static_cast<EVP_MD_CTX*>(ctx));
}

void Digest::add(const u8* data, i64 length) {
    if (length <= 0) return;
    if (refused() || api.update(static_cast<EVP_MD_CTX*>(ctx), data, size_t(length)) != 1) not_here(code);
}

i32 Digest::finish(u8* out) {
    unsigned int n = 0;
    if (refused() || api.final(static_cast<EVP_MD_CTX*>(ctx), out, &n) != 1 ||
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
