// Registers the tool's six switches with the switch registry.
#pragma once

// Unit start-up: registers USER, FILE, INSERT, RECURSIVE, KEEPCVS and
// KEEPDATE, in this order, with the texts of uHistrelConstants. A refused
// registration is written as one line on standard output; the ones after it
// are skipped and start-up goes on.
void InitializeHistrelRegisterSwitchesUnit();
