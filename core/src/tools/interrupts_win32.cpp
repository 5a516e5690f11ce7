// Interrupts on Windows: Ctrl+C, Ctrl+Break, closing the console window, log-off
// and shut-down reach the program through a console control handler, which runs
// on a thread of its own.
#include <windows.h>

#include "tools/process.h"

namespace reel {
namespace {

std::atomic<std::atomic<bool>*> interrupt_flag{nullptr};
std::atomic<std::atomic<std::uint32_t>*> interrupt_child{nullptr};
std::atomic<int> interrupts_seen{0};

BOOL WINAPI on_console_event(DWORD) {
    if (interrupts_seen.fetch_add(1) > 0) {
        // Every child sits in a job object that kills it when its last handle
        // closes, and exiting closes them all.
        ExitProcess(1);
    }
    if (auto* flag = interrupt_flag.load()) flag->store(true);
    if (auto* child = interrupt_child.load()) kill_process(child->load());
    return TRUE;
}

}  // namespace

void handle_interrupts(std::atomic<bool>* cancelled, std::atomic<std::uint32_t>* current_child) {
    interrupt_flag.store(cancelled);
    interrupt_child.store(current_child);
    interrupts_seen.store(0);
    SetConsoleCtrlHandler(on_console_event, cancelled != nullptr ? TRUE : FALSE);
}

}  // namespace reel
