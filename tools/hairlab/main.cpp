#include <exception>
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
    // run() reports bad input itself; this is the last guard against anything that escapes it.
    try {
        return hairlab::run(argc, argv, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "hairlab: error: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "hairlab: error: unexpected failure\n";
    }
    return 1;
}
