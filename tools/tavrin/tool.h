// The tavrin command-line tool: the device library's exports driven from a shell.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

// Runs one command line (the arguments after the program name). Results go to out, messages and
// progress to err. Returns the exit code (cli.h).
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavrin::cli
