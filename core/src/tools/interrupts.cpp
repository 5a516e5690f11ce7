// Interrupt state shared by both platforms' handlers.
#include "tools/interrupts.h"

#include "tools/process.h"

namespace reel {
namespace {

std::atomic<std::atomic<bool>*> interrupt_flag{nullptr};
std::atomic<std::atomic<std::uint32_t>*> interrupt_child{nullptr};
std::atomic<int> interrupts_seen{0};

}  // namespace

bool record_interrupt() {
    if (interrupts_seen.fetch_add(1) > 0) return true;
    if (auto* flag = interrupt_flag.load()) flag->store(true);
    if (auto* child = interrupt_child.load()) kill_process(child->load());
    return false;
}

void handle_interrupts(std::atomic<bool>* cancelled, std::atomic<std::uint32_t>* current_child) {
    interrupt_flag.store(cancelled);
    interrupt_child.store(current_child);
    interrupts_seen.store(0);
    install_interrupt_handler(cancelled != nullptr);
}

}  // namespace reel
