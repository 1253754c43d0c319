#pragma once

// The process-wide decimal separator of the C library's number conversions
// (printf, strtod and everything built on them). The program's own number
// text is always written with '.', but libraries that use the C functions
// follow LC_NUMERIC, which the desktop's locale may set to ','.

// Makes '.' the separator (LC_NUMERIC := "C").
void SetDecimalSeparatorDot();

// The separator now in force.
char DecimalSeparator();
