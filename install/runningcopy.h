// runningcopy.h - a copy of the product that is running while it is
// installed over or removed keeps its files open: it is asked to close first.
#ifndef INSTALL_RUNNINGCOPY_H
#define INSTALL_RUNNINGCOPY_H

// Asks running copies of the product (top-level windows of runningWindowClass
// owned by another process) to close and waits for them to end, 5 s at most in all; gives up on a window
// after four requests. Does nothing without a window class.
void closeRunningInstance(void);

#endif
