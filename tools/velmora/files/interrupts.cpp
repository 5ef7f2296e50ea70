#include "tools/velmora/files/interrupts.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace velmora {

namespace {

// Temporary names the handler removes: fixed storage, written before the slot is marked live,
// so the handler never sees a half-written name.
constexpr int kSlots = 4;
constexpr size_t kPathMax = 4096;
char pending_paths[kSlots][kPathMax];
std::atomic<bool> pending_live[kSlots];

// Whether an interrupt may end the process now. A handler and the thread ending a held section
// each look again after publishing what they did, so that one of them always acts on a signal
// that came while the section was ending.
enum State : int { kRunning, kHeld, kDying };
std::atomic<int> state{kRunning};
std::atomic<int> held_signal{0};

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// The signal is blocked while its handler runs: raised again, it ends the process as soon as
// the handler returns.
void remove_pending_and_die(int sig) {
    for (int i = 0; i < kSlots; ++i)
        if (pending_live[i].load()) ::unlink(pending_paths[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

bool claim_the_end() {
    int expected = kRunning;
    return state.compare_exchange_strong(expected, kDying);
}

extern "C" void on_interrupt(int sig) {
    const int saved_errno = errno;
    if (claim_the_end()) {
        remove_pending_and_die(sig);
    } else if (state.load() == kHeld) {
        int none = 0;
        held_signal.compare_exchange_strong(none, sig);
        // The section may have ended meanwhile without seeing the signal.
        if (claim_the_end()) remove_pending_and_die(sig);
    }
    // Otherwise another thread is already ending the process.
    errno = saved_errno;
}

}  // namespace

void install_interrupt_cleanup() {
    struct sigaction action = {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

int remove_on_interrupt(const std::string& path) {
    if (path.size() >= kPathMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (pending_live[i].load()) continue;
        std::memcpy(pending_paths[i], path.c_str(), path.size() + 1);
        pending_live[i].store(true);
        return i;
    }
    return -1;
}

void forget_on_interrupt(int slot) {
    if (slot >= 0) pending_live[slot].store(false);
}

InterruptsHeld::InterruptsHeld() {
    int expected = kRunning;
    // Failing: a handler is ending the process right now; let it.
    while (!state.compare_exchange_strong(expected, kHeld)) {
        expected = kRunning;
        ::pause();
    }
}

InterruptsHeld::~InterruptsHeld() {
    state.store(kRunning);
    if (const int sig = held_signal.exchange(0); sig != 0) std::raise(sig);
}

}  // namespace velmora
