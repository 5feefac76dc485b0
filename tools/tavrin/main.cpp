// tavrin: list, query and feed printer-class devices through the Tavrin device library.
#include <iostream>
#include <string>
#include <vector>

#include "tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tavrin::cli::runTool(args, std::cout, std::cerr);
}
