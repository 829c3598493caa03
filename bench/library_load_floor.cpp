// bench/library_load_floor.cpp — loads the libraries a fast merge needs
// through the product's loader and does nothing else: the floor under the
// fixed cost of a merge (bench/fast-join).
//   library_load_floor
#include <cstdio>

#include "binding/FFLoad.h"

int main() {
    using namespace tw;
    if (!FFLoader().Load(CopyLibraryKinds)) {
        std::fprintf(stderr, "%s\n", FFLoader().LastErrMsg().c_str());
        return 1;
    }
    return 0;
}
