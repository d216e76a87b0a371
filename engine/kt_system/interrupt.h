// Ctrl-C and its kin for the command-line modes. After interrupt_catch(),
// SIGINT and SIGTERM (POSIX), or Ctrl+C, Ctrl+Break and closing the console
// (Windows), no longer end the process at once: they are noted, and the
// mode cancels its work and ends by itself. A second one ends the process
// the system's way.
#pragma once

// Set once per run; later calls change nothing.
void interrupt_catch();
// Whether one has come since interrupt_catch().
bool interrupt_seen();
// The mode has cancelled its work and printed its end: a console being
// closed, which waits a few seconds for that, may go on.
void interrupt_finished();
