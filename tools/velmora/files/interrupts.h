// SIGINT, SIGTERM and SIGHUP end a run as they would end any program, but first remove the files
// it was writing under temporary names, and never in the middle of a step that must not be cut
// short (overwriting an existing file in place): a signal that comes during such a step, to any
// thread, waits until the step is done.
#pragma once

#include <string>

namespace velmora {

// Installs the handlers. The process still dies of the signal, as it would have.
void install_interrupt_cleanup();

// Lists a file for removal on an interrupt; returns its slot, or -1 when it cannot be listed.
// No interrupt can come between creating a file and listing it when both happen under
// InterruptsHeld.
int remove_on_interrupt(const std::string& path);
// Takes a file off the list (it was renamed, removed or is to be kept).
void forget_on_interrupt(int slot);

// Interrupts delivered to any thread while one of these lives are held back, and acted on when
// it ends (the process then dies of the first of them). One at a time.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

}  // namespace velmora
