// The program run: reads the tool's switches, fills the history worker and
// starts it.
#pragma once

#include "app/uHistrel.h"

// The main procedure, once the units have started: creates the worker,
// hands it USER, INSERT, RECURSIVE, KEEPCVS, KEEPDATE and FILE, and calls
// Execute. The first failure ends the run and its message is written as one
// line on standard output; the worker is freed either way.
void RunHistrel(const TDateSource& ADateSource = platform::Today);
