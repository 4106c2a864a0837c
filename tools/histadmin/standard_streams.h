// The process's standard streams as the commands need them beyond
// printing: whether one is a terminal, and what a function of the library
// prints on standard output (it prints with stdio, past std::cout).
#pragma once

#include <functional>
#include <string>

namespace kha::histadmin {

bool InputIsTerminal();
bool OutputIsTerminal();

// Runs `print` with standard output sent to a temporary file and returns
// what it wrote there; standard output is back where it was afterwards.
std::string CaptureStandardOutput(const std::function<void()>& print);

}  // namespace kha::histadmin
