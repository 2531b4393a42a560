// The English texts of the application and of the switch library.
#pragma once

// Unit start-up: assigns the English texts, unconditionally. Runs before
// the switch library starts, so everything registered, shown or reported
// afterwards is English.
void InitializeHistrelEnglishConstantUnit();
