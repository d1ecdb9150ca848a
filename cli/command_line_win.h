// The program started with arguments: the command line in UTF-8, and the
// scripted run over the real registry, files and standard streams.
#pragma once

#include <string>
#include <vector>

namespace cli {

// The arguments after the program's name, from the UTF-16 command line,
// each in UTF-8.
std::vector<std::string> CommandLineArguments();

// Runs the arguments as a command and returns the exit code. Output goes to
// the standard handles the program was given (a redirection or pipe); where
// there are none, to the console of the program that started it.
int RunCommandLine(const std::vector<std::string>& arguments);

}  // namespace cli
