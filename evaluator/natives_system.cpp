// The natives that reach the system: to-local-file, wait, checksum, the
// environment variables, now, call, size?, browse, compress, decompress,
// recycle and transcode.
#include "evaluator/natives.hpp"

namespace zir {
namespace natives {

void fill_system(action::Generic*) {}

}  // namespace natives
}  // namespace zir
