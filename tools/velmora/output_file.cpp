#include "tools/velmora/output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "tools/velmora/y4m.h"

namespace velmora {

namespace {

// Temporary names the signal handler removes: fixed storage, written before the slot is
// marked live, so the handler never sees a half-written name.
constexpr int kSlots = 4;
constexpr size_t kPathMax = 4096;
char pending_paths[kSlots][kPathMax];
volatile sig_atomic_t pending_live[kSlots];

int claim_slot(const std::string& path) {
    if (path.size() >= kPathMax) return -1;
    for (int i = 0; i < kSlots; ++i) {
        if (pending_live[i]) continue;
        std::memcpy(pending_paths[i], path.c_str(), path.size() + 1);
        pending_live[i] = 1;
        return i;
    }
    return -1;
}

void release_slot(int slot) {
    if (slot >= 0) pending_live[slot] = 0;
}

extern "C" void remove_pending_and_die(int sig) {
    for (int i = 0; i < kSlots; ++i)
        if (pending_live[i]) ::unlink(pending_paths[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw IoError(what + " '" + path + "': " + strerror(errno));
}

}  // namespace

void install_interrupt_cleanup() {
    struct sigaction action = {};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target == "-") {
        fd_ = STDOUT_FILENO;
        return;
    }
    struct stat st;
    if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) fail("cannot open", target);
        return;
    }
    const size_t slash = target.rfind('/');
    const std::string dir = slash == target.npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == target.npos ? target : target.substr(slash + 1);
    std::string pattern = dir + "." + name + ".velmora-XXXXXX";
    // No interrupt between creating the file and listing it for removal.
    sigset_t interrupts, previous;
    sigemptyset(&interrupts);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, sig);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous);
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    const int error = errno;
    if (fd_ >= 0) slot_ = claim_slot(pattern);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    if (fd_ < 0) fail("cannot create a file beside", target);
    temporary_ = pattern;
    // mkstemp makes the file private; give it the permissions a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
}

OutputFile::~OutputFile() {
    if (committed_ || fd_ == STDOUT_FILENO) return;
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        release_slot(slot_);
    }
}

void OutputFile::commit() {
    if (fd_ == STDOUT_FILENO) {
        committed_ = true;
        return;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot write", target_);
    if (!temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0)
        fail("cannot rename the finished file to", target_);
    release_slot(slot_);
    committed_ = true;
}

}  // namespace velmora
