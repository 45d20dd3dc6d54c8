// The HTTP side of the simple layer (see simple_io.hpp); the file side lives
// in files.cpp. Until the HTTP client is built, a request refuses with
// `internal not-done`.
#include "services/simple_io.hpp"

#include "runtime/fire.hpp"

namespace zir {
namespace simple_io {

const Cell* request_http(const Cell*, const Cell*, const Cell*, const Cell*, bool) { fire(ERR_INTERNAL, "not-done"); }

}  // namespace simple_io
}  // namespace zir
