// The report that "--check" prints after the log of "Checking".
#pragma once
#include <string>

// Three parts, each line ended by a line break: the game and its movies,
// one line per found compiler, the compile options for this computer.
std::string check_report_text();
