// Interrupts of a run: Ctrl-C on the terminal (SIGINT), the terminal going
// away (SIGHUP), a request to stop (SIGTERM, as job schedulers send it).
//
// A program that writes its outputs over a while asks for them with
// CatchInterrupts. An interrupt then only leaves a mark; the work looks for
// it at each step (each slice, each row or band) with CheckInterrupt, which
// leaves the work by a FatalError without a line, so that everything on the
// way out does what it does after any other fault: a volume is cut back to
// its whole frames, a slice file being written is removed. RunMain then
// erases the progress line and ends the process by the same signal, so that
// the shell, and a script around it, sees a run ended by that signal. A
// second interrupt before the work has left ends the process at once.
// Signals that were ignored when the program started (a job started by
// nohup, or in the background of a script) stay ignored.
#pragma once

namespace pv {

// From here on, the interrupts of the program leave a mark.
void CatchInterrupts();

// The signal of the first interrupt, 0 while none came.
int Interrupted();

// Leaves the work once an interrupt came; nothing otherwise.
void CheckInterrupt();

// Ends the process by the signal of the interrupt that came (the progress
// line erased and standard output flushed first).
[[noreturn]] void EndByInterrupt();

}  // namespace pv
