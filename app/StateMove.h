#pragma once

// The window's state objects allow only the moves their tables list. A move
// outside its table is a fault of the window's code: it stops a debug build
// at once and costs a release build a line on standard error (the move is
// made all the same, so that no thread is left without an owner).
void ReportBadMove(const char* object, const char* from, const char* to);
