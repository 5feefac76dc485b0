// tavrin: list, query and feed printer-class devices through the Tavrin device library.
#include <iostream>
#include <string>
#include <vector>

#include "platform/console.h"
#include "tool.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    tavrin::platform::setBinaryInput();  // write FILE "-" sends standard input byte for byte
    tavrin::platform::surviveClosedPipes();  // `tavrin -v ... | head` still removes its temporary log
    const tavrin::cli::ToolStreams streams{std::cin, std::cout, std::cerr,
                                           tavrin::platform::isTerminal(tavrin::platform::StdStream::Err)};
    return tavrin::cli::runTool(args, streams);
}
