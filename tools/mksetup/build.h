// build.h - the build command: the package written into a new file beside
// the output, renamed into its place only when every step succeeded.
#ifndef MKSETUP_BUILD_H
#define MKSETUP_BUILD_H

#include <string>

// Builds the setup of the script at scriptPath; output and stubPath may be
// empty (the script's Output and Stub, else the defaults); workers from 1.
// A depfile, when named, gets the setup's inputs in the form make and ninja
// read ("OUT: SCRIPT STUB SOURCE..."), so a build system rebuilds the setup
// when any of them changes. Returns the exit status: 0, or 1 after saying
// what is wrong.
int buildSetup(const std::string& scriptPath, const std::string& output, const std::string& stubPath, int workers,
               const std::string& depfile);

#endif
