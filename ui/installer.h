// installer.h - the installer's flow: one full-screen window whose procedure
// runs a small state machine on two timers, and four modal dialogs over it
// (welcome, installing, finished, rollback). runInstaller is in entry.h.
//
// States, each dispatched by a 50 ms one-shot timer and a posted message:
//   decoration  timer 2 places the eight bitmaps, then -> welcome
//   4 welcome   open the package; no package: error box -> close;
//               Finish -> install, Cancel confirmed -> close
//   2 install   installing dialog and the worker -> finished (1) or rollback
//   3 finished  finished dialog -> close
//   5 rollback  delete the files written -> close
//   1 close     destroy the window; after the loop, maybe run the product
#ifndef INSTALLER_H
#define INSTALLER_H

enum {
    STATE_CLOSE = 1,
    STATE_INSTALL = 2,
    STATE_FINISHED = 3,
    STATE_WELCOME = 4,
    STATE_ROLLBACK = 5
};

// Stores the state and sets timer 1 of the background window to 50 ms.
void scheduleState(int state);

// Starts the installed main program when the finished dialog's box stayed ticked.
void runProduct(void);

#endif
