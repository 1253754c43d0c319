#include "StateMove.h"

#include <cassert>
#include <cstdio>

void ReportBadMove(const char* object, const char* from, const char* to)
{
    std::fprintf(stderr, "ksn48_vevu: %s: no move from %s to %s\n", object, from, to);
    assert(false && "a state move outside its table");
}
