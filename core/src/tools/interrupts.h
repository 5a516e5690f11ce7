#pragma once
// The platform-neutral half of handle_interrupts (process.h): the state of the
// run being interrupted, shared by the POSIX signal handler and the Windows
// console control handler. Each platform installs its own handler.
namespace reel {

// Records one interrupt. The first cancels the run and stops its current child
// and returns false; any later one returns true, and the caller then ends the
// program its platform's way. Only atomics and kill_process: safe in a signal
// handler.
bool record_interrupt();

// Installs the platform's handler (true) or puts back the default (false).
void install_interrupt_handler(bool install);

}  // namespace reel
