#pragma once

#include "Program.h"

#include <memory>

// Makes the program's application object, after the few things that need
// no window: --help and --version print their text and end the program
// with 0; with no display to show the window on (DISPLAY not set, an X
// server that does not answer) it says so in one line on stderr and ends
// with 1, where Qt would abort with a page of text. Every other argument
// goes to Qt as before (-platform, -style and the like); the program itself
// uses none.
std::unique_ptr<TApplication> StartApplication(int& argc, char** argv);
