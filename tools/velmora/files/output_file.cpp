#include "tools/velmora/files/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "tools/velmora/files/interrupts.h"
#include "tools/velmora/stream/y4m.h"

namespace velmora {

namespace {

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

// Whether a file that exists is protected against being replaced, as a shell's `>` finds it:
// not writable by this process, or (for root, who may write anything) writable by nobody.
bool write_protected(const std::string& path, const struct stat& st) {
    return (st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// Whether renaming over an existing file in `dir` will be refused: in a folder with the sticky
// bit (/tmp) only the owner of the file or of the folder may replace a name.
bool rename_refused(const std::string& dir, const struct stat& file) {
    struct stat st;
    if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0) return false;
    const uid_t me = ::geteuid();
    return (st.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && st.st_uid != me;
}

// Makes the file system set aside room for `size` bytes of `fd` before anything in it is
// overwritten; false when it has none. A file system that cannot tell is taken at its word.
bool reserve_space(int fd, off_t size) {
    if (size == 0) return true;
    int result;
    while ((result = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, size)) != 0 && errno == EINTR) {
    }
    return result == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

}  // namespace

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

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    const bool a_exists = ::stat(a.c_str(), &sa) == 0, b_exists = ::stat(b.c_str(), &sb) == 0;
    if (a_exists || b_exists)
        return a_exists && b_exists && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    const auto place = [](const std::string& name) {
        const std::string path = follow_links(name);
        const size_t slash = path.rfind('/');
        const std::string dir = slash == path.npos ? "." : path.substr(0, slash + 1);
        char* real = ::realpath(dir.c_str(), nullptr);
        const std::string place = (real ? real : dir) + std::string("/") +
                                  (slash == path.npos ? path : path.substr(slash + 1));
        std::free(real);
        return place;
    };
    return place(a) == place(b);
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

OutputFile::OutputFile(const std::string& target, bool replace_read_only) : target_(target) {
    if (target == "-") {
        to_stdout_ = true;
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
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == target_.npos ? "" : target_.substr(0, slash + 1);
    const std::string name = slash == target_.npos ? target_ : target_.substr(slash + 1);
    if (exists && !replace_read_only && write_protected(target_, st))
        throw IoError("'" + target + "' is write-protected; --force replaces it");
    if (exists && (st.st_nlink > 1 || rename_refused(dir, st))) open_in_place(target);
    removed_ = remove_stale_temporaries(dir);
    create_temporary(dir, name);
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

void OutputFile::open_in_place(const std::string& given) {
    // Written into on commit: opened now, so that a file that cannot be written is found before
    // the run, and locked for the whole run, so that two runs never write into it at once.
    in_place_ = true;
    target_fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC);
    if (target_fd_ < 0) fail("cannot open", given);
    if (::flock(target_fd_, LOCK_EX | LOCK_NB) != 0)
        throw IoError("'" + given + "' is being written by another velmora run");
}

void OutputFile::create_temporary(const std::string& dir, const std::string& name) {
    // Short enough for any file system's longest name.
    std::string pattern = dir + "." + name.substr(0, 200) + std::string(kTag) +
                          std::to_string(::getpid()) + "-XXXXXX";
    int error = 0;
    {
        const InterruptsHeld held;  // created and listed for removal, or neither
        fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
        error = errno;
        if (fd_ >= 0) slot_ = remove_on_interrupt(pattern);
    }
    errno = error;
    if (fd_ < 0) fail("cannot create a file beside", target_);
    temporary_ = pattern;
    ::flock(fd_, LOCK_EX | LOCK_NB);  // a new file: nobody else holds it
}

OutputFile::~OutputFile() {
    if (target_fd_ >= 0) ::close(target_fd_);
    if (committed_ || to_stdout_) return;
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        forget_on_interrupt(slot_);
    }
}

void OutputFile::commit() {
    if (to_stdout_) {
        committed_ = true;
        return;
    }
    if (in_place_) {
        replace_in_place();
    } else if (!temporary_.empty()) {
        if (::close(std::exchange(fd_, -1)) != 0) fail("cannot write", target_);
        if (::rename(temporary_.c_str(), target_.c_str()) != 0)
            fail("cannot rename the finished file to", target_);
    } else if (::close(std::exchange(fd_, -1)) != 0) {
        fail("cannot write", target_);
    }
    forget_on_interrupt(slot_);
    committed_ = true;
}

void OutputFile::replace_in_place() {
    const off_t size = ::lseek(fd_, 0, SEEK_END);
    if (size < 0) fail("cannot read back the finished file for", target_);
    if (!reserve_space(target_fd_, size))
        throw IoError("no room to replace '" + target_ +
                      "', which is left as it was: " + strerror(errno));
    try {
        const InterruptsHeld held;  // finished once begun: never half old, half new
        copy_over(fd_, target_fd_, target_);
        if (::close(std::exchange(target_fd_, -1)) != 0) fail("cannot write", target_);
    } catch (const IoError& e) {
        throw IoError(std::string(e.what()) + "; '" + target_ + "' is damaged" + keep_finished());
    }
    ::close(std::exchange(fd_, -1));
    ::unlink(temporary_.c_str());
}

std::string OutputFile::keep_finished() {
    const std::string kept = target_ + ".velmora-finished";
    if (::rename(temporary_.c_str(), kept.c_str()) != 0) return "";
    forget_on_interrupt(slot_);
    temporary_.clear();
    return "; the finished output is in '" + kept + "'";
}

}  // namespace velmora
