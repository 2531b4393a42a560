// Creating a directory path level by level.
#pragma once

#include <string>

// Message when a directory cannot be created; %s is the directory. It keeps
// its German text: the English texts do not replace it.
extern std::string SPathNotCreated;

// Creates every missing directory of Path, outermost first. A leading "\"
// is the root. Throws Exception with SPathNotCreated naming the first
// directory that cannot be created; directories made before it stay.
void CreatePath(const std::string& Path);

// Unit start-up and shut-down.
void InitializeFileRoutinesUnit();
void FinalizeFileRoutinesUnit();
