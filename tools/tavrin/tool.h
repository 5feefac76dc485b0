// The tavrin command-line tool: the device library's exports driven from a shell.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace tavrin::cli {

// The streams of a run: standard input (write FILE "-"), results, and messages and progress.
struct ToolStreams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // progress is drawn (with carriage returns) only on a terminal
};

// Runs one command line (the arguments after the program name). Results go to out, messages and
// progress to err. Returns the exit code (cli.h).
int runTool(const std::vector<std::string>& args, const ToolStreams& streams);
// The same with standard input and err not a terminal.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tavrin::cli
