// The simple file and HTTP layer: see simple_io.hpp. Until the file system
// and the HTTP client are built, each entry refuses with `internal not-done`.
#include "services/simple_io.hpp"

#include "runtime/fire.hpp"

namespace zir {
namespace simple_io {

namespace {

[[noreturn]] void not_done() { fire(ERR_INTERNAL, "not-done"); }

}  // namespace

Cell* read(Cell*, const Cell*, const Cell*, bool, bool) { not_done(); }

Cell* write(Cell*, const Cell*, const Cell*, const Cell*, bool, bool, bool) { not_done(); }

Cell* query(Cell*) { not_done(); }

bool delete_(const Cell*) { not_done(); }

bool rename(const Cell*, const Cell*) { not_done(); }

const Cell* request_http(const Cell*, const Cell*, const Cell*, const Cell*, bool) { not_done(); }

}  // namespace simple_io
}  // namespace zir
