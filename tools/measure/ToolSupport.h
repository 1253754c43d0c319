#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// What the tool's parts share: how it speaks on standard error, and the
// version check of the device libraries that every run makes first.
namespace tool {

// Starts a line of the tool on err: "ksn48-measure: ", or the name another
// program of the tools set at its start.
std::ostream& Say(std::ostream& err);
void SetProgramName(std::string_view name);
// Each message after Say, as it is (the window's texts keep their line
// breaks), and a flush.
void SayLines(std::ostream& err, const std::vector<std::string>& messages);

// The window's check of the two device libraries as loaded: a library below
// 1.32.15 gets the window's warning and the run goes on; one without version
// information gets the window's text and false.
bool LibrariesUsable(std::ostream& err);
// The same check for another program of the tree: its messages as lines
// into messages; false when the libraries cannot be used.
bool LibrariesUsable(std::vector<std::string>& messages);

}  // namespace tool
