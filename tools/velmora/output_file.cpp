#include "tools/velmora/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string_view>

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

constexpr std::string_view kTag = ".velmora-";

// The process id in a temporary file's name (".NAME.velmora-PID-XXXXXX"), 0 for other names.
pid_t temporary_owner(std::string_view name) {
    const size_t tag = name.rfind(kTag);
    if (name.empty() || name[0] != '.' || tag == name.npos) return 0;
    const std::string_view rest = name.substr(tag + kTag.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == rest.npos || dash > 9 || rest.size() != dash + 7) return 0;
    pid_t pid = 0;
    for (char c : rest.substr(0, dash)) {
        if (c < '0' || c > '9') return 0;
        pid = 10 * pid + (c - '0');
    }
    for (char c : rest.substr(dash + 1))
        if (!std::isalnum(static_cast<unsigned char>(c))) return 0;
    return pid;
}

// Copies all of `from` over the start of `to` and cuts `to` to that length.
void copy_over(int from, int to, const std::string& target) {
    if (::lseek(from, 0, SEEK_SET) != 0 || ::lseek(to, 0, SEEK_SET) != 0)
        fail("cannot write", target);
    std::vector<char> chunk(size_t{1} << 20);
    off_t size = 0;
    for (;;) {
        const ssize_t n = ::read(from, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail("cannot read back the finished file for", target);
        if (n == 0) break;
        write_all(to, chunk.data(), static_cast<size_t>(n));
        size += n;
    }
    if (::ftruncate(to, size) != 0) fail("cannot write", target);
}

}  // namespace

void install_interrupt_cleanup() {
    struct sigaction action = {};
    action.sa_handler = remove_pending_and_die;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

std::string follow_links(const std::string& name) {
    std::string path = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char to[4096];
        const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
        if (n < 0) fail("cannot read the link", path);
        if (static_cast<size_t>(n) == sizeof to) {
            errno = ENAMETOOLONG;
            fail("cannot read the link", path);
        }
        const size_t slash = path.rfind('/');
        path = to[0] == '/' || slash == path.npos ? std::string(to, n)
                                                  : path.substr(0, slash + 1) + std::string(to, n);
    }
    errno = ELOOP;
    fail("cannot follow the links of", name);
}

std::vector<std::string> remove_stale_temporaries(const std::string& folder) {
    std::vector<std::string> removed;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return removed;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t pid = temporary_owner(entry->d_name);
        // A process that is alive, or that this one may not signal, may still be writing.
        if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
        const std::string path = prefix + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st;
        // The lock is free when no process holds the file open for writing, on any machine that
        // shares the folder.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::unlink(path.c_str()) == 0)
            removed.push_back(path);
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

OutputFile::OutputFile(const std::string& target) : target_(target) {
    if (target == "-") {
        fd_ = STDOUT_FILENO;
        return;
    }
    target_ = follow_links(target);
    struct stat st;
    const bool exists = ::stat(target_.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) fail("cannot open", target);
        return;
    }
    if (exists && st.st_nlink > 1) {
        // Written into on commit: opened now, so that a file that cannot be written is found
        // before the run.
        in_place_ = true;
        target_fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
        if (target_fd_ < 0) fail("cannot open", target);
    }
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == target_.npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == target_.npos ? target_ : target_.substr(slash + 1);
    removed_ = remove_stale_temporaries(dir);
    // Short enough for any file system's longest name.
    std::string pattern = dir + "." + name.substr(0, 200) + std::string(kTag) +
                          std::to_string(::getpid()) + "-XXXXXX";
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
    if (fd_ < 0) fail("cannot create a file beside", target_);
    temporary_ = pattern;
    ::flock(fd_, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
    if (exists) {
        // The owner first: a change of owner clears the set-user-ID bits. Only root may give a
        // file away, and only to a group of its own otherwise; the rest keeps this process's.
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0 && ::fchown(fd_, -1, st.st_gid) != 0) {
        }
        ::fchmod(fd_, st.st_mode & 07777);
    } else {
        // mkstemp makes the file private; give it the permissions a plain create would.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
}

OutputFile::~OutputFile() {
    if (target_fd_ >= 0) ::close(target_fd_);
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
    if (in_place_) {
        copy_over(fd_, target_fd_, target_);
        const int fd = target_fd_;
        target_fd_ = -1;
        if (::close(fd) != 0) fail("cannot write", target_);
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) fail("cannot write", target_);
    if (in_place_) {
        ::unlink(temporary_.c_str());
    } else if (!temporary_.empty() && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        fail("cannot rename the finished file to", target_);
    }
    release_slot(slot_);
    committed_ = true;
}

}  // namespace velmora
