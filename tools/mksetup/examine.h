// examine.h - the commands that read a setup: list, verify, config, and
// extract (extract.cpp). Each returns the exit status: 0, or 1 after saying
// what is wrong.
#ifndef MKSETUP_EXAMINE_H
#define MKSETUP_EXAMINE_H

#include <string>
#include <vector>

int listSetup(const char* path);
int verifySetup(const char* path);
int printConfig(const char* path);
// Writes the named entries (all when names is empty) into folder.
int extractSetup(const char* path, const std::vector<std::string>& names, const std::string& folder);

// Opens the setup's package for reading; 0 after saying why it cannot.
int openSetup(const char* path);

#endif
