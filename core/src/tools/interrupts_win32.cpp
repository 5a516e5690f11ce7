// Interrupts on Windows: Ctrl+C, Ctrl+Break, closing the console window, log-off
// and shut-down reach the program through a console control handler, which runs
// on a thread of its own.
#include <windows.h>

#include "tools/interrupts.h"

namespace reel {
namespace {

BOOL WINAPI on_console_event(DWORD) {
    // Every child sits in a job object that kills it when its last handle
    // closes, and exiting closes them all.
    if (record_interrupt()) ExitProcess(1);
    return TRUE;
}

}  // namespace

void install_interrupt_handler(bool install) { SetConsoleCtrlHandler(on_console_event, install ? TRUE : FALSE); }

}  // namespace reel
