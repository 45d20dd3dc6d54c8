// Prints draws of the random generator, one per line, for the oracle that
// models the generator independently.
//
//   zir-tool-random draws SEED COUNT     genrand after seeding with SEED
//   zir-tool-random init COUNT           genrand after the start-up seeding
//   zir-tool-random int SEED N COUNT     random integers up to N after seeding
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "services/random.hpp"

using namespace zir;

static i32 arg(const char* s) { return i32(std::strtol(s, nullptr, 10)); }

int main(int argc, char** argv) {
    if (argc == 4 && !std::strcmp(argv[1], "draws")) {
        random::seed(arg(argv[2]));
        for (i32 i = 0, n = arg(argv[3]); i < n; i++) std::printf("%d\n", random::genrand());
    } else if (argc == 3 && !std::strcmp(argv[1], "init")) {
        random::init();
        for (i32 i = 0, n = arg(argv[2]); i < n; i++) std::printf("%d\n", random::genrand());
    } else if (argc == 5 && !std::strcmp(argv[1], "int")) {
        random::seed(arg(argv[2]));
        i32 limit = arg(argv[3]);
        for (i32 i = 0, n = arg(argv[4]); i < n; i++) std::printf("%d\n", random::int_(false, limit));
    } else {
        std::fprintf(stderr, "usage: zir-tool-random draws SEED COUNT | init COUNT | int SEED N COUNT\n");
        return 2;
    }
    return 0;
}
