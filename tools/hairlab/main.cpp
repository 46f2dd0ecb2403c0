#include <iostream>

#include "commands.h"

int main(int argc, char** argv) { return hairlab::run(argc, argv, std::cout, std::cerr); }
