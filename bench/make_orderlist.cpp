// Writes an Orderlist.xml of closed transactions, to run the desk with a long list:
//   make_orderlist LEGS PATH
#include <cstdio>
#include <cstdlib>

#include "bench/orderlist_fixture.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_orderlist LEGS PATH\n");
        return 2;
    }
    const long legs = std::strtol(argv[1], nullptr, 10);
    if (legs < 0 || legs > 10000000) {
        std::fprintf(stderr, "make_orderlist: LEGS must lie in 0..10000000\n");
        return 2;
    }
    try {
        quorvel::bench::List list(static_cast<int>(legs));
        list.engine.SaveToFile(argv[2]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_orderlist: %s\n", e.what());
        return 1;
    }
    return 0;
}
