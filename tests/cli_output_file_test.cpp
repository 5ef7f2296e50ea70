// The output file: written through symbolic links, into hard-linked files (whole or not at all,
// whatever interrupts, races or fills the disk), with the existing file's permission bits and
// owner, and the temporary files of killed runs cleared by the next.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "tests/cli_test_support.h"
#include "tools/velmora/files/output_file.h"

namespace {

using namespace cli_test;

struct stat stat_of(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

class CliOutputFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string in = dir.file("in.y4m"), out = dir.file("out.y4m");
    std::string expected;  // what the run writes

    void SetUp() override {
        write_file(in, serialise(make_stream(40, 24, velmora::Subsampling::s420, SampleFormat::u8,
                                             2, 21)));
        const std::string plain = dir.file("plain.y4m");
        ASSERT_EQ(run_velmora({"--quiet", "--sigma", "4", in, plain}).status, 0);
        expected = read_file(plain);
        ::unlink(plain.c_str());
    }

    int filter_into(const std::string& target) {
        return run_velmora({"--quiet", "--sigma", "4", in, target}).status;
    }
};

// The file a link leads to gets the output and the link stays as it was: relative and absolute
// links, a chain of links, and a link to a file that does not exist yet.
TEST_F(CliOutputFile, ASymbolicLinkIsWrittenThrough) {
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links;  // link, what it says
        std::string target;
    };
    const Case cases[] = {
        {"relative", {{"out.y4m", "sub/real.y4m"}}, "sub/real.y4m"},
        {"absolute", {{"out.y4m", dir.file("sub/abs.y4m")}}, "sub/abs.y4m"},
        {"relative from its folder", {{"sub/link.y4m", "../real2.y4m"}}, "real2.y4m"},
        {"chain", {{"out.y4m", "sub/mid.y4m"}, {"sub/mid.y4m", "end.y4m"}}, "sub/end.y4m"},
        {"dangling", {{"out.y4m", "sub/new.y4m"}}, "sub/new.y4m"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [link, to] : c.links) {
            ::unlink(dir.file(link).c_str());
            ASSERT_EQ(::symlink(to.c_str(), dir.file(link).c_str()), 0);
        }
        if (std::string(c.name) != "dangling") write_file(dir.file(c.target), "old");
        ASSERT_EQ(filter_into(dir.file(c.links[0].first)), 0);
        EXPECT_TRUE(read_file(dir.file(c.target)) == expected);
        EXPECT_TRUE(S_ISREG(stat_of(dir.file(c.target)).st_mode));
        for (const auto& [link, to] : c.links) {
            EXPECT_TRUE(S_ISLNK(stat_of(dir.file(link)).st_mode)) << link;
            char said[4096] = {};
            ASSERT_GT(::readlink(dir.file(link).c_str(), said, sizeof said - 1), 0);
            EXPECT_EQ(said, to);
        }
        ::unlink(dir.file(c.target).c_str());
    }
    // A loop of links is an error of the output, before any run.
    ::unlink(out.c_str());
    ASSERT_EQ(::symlink("out.y4m", out.c_str()), 0);
    const RunResult loop = run_velmora({"--sigma", "4", in, out});
    EXPECT_EQ(loop.status, 1);
    EXPECT_NE(loop.err.find("links"), std::string::npos) << loop.err;
}

// A file with two names keeps its inode: both names show the new content after a run, and the
// old one after a failed run.
TEST_F(CliOutputFile, AHardLinkedOutputKeepsItsIdentity) {
    const std::string other = dir.file("other.y4m");
    write_file(out, "old content");
    ASSERT_EQ(::link(out.c_str(), other.c_str()), 0);
    const ino_t inode = stat_of(out).st_ino;

    const std::string cut = dir.file("cut.y4m");
    write_file(cut, read_file(in).substr(0, read_file(in).size() - 10));
    EXPECT_EQ(run_velmora({"--quiet", "--sigma", "4", cut, out}).status, 2);
    EXPECT_EQ(read_file(other), "old content");

    ASSERT_EQ(filter_into(out), 0);
    EXPECT_EQ(stat_of(out).st_ino, inode);
    EXPECT_EQ(stat_of(out).st_nlink, 2u);
    EXPECT_TRUE(read_file(other) == expected);
    // Shorter output than the old content: cut to length.
    write_file(other, expected + std::string(5000, 'x'));
    ASSERT_EQ(filter_into(out), 0);
    EXPECT_TRUE(read_file(out) == expected);
    EXPECT_EQ(dir.entries(),
              (std::vector<std::string>{"cut.y4m", "in.y4m", "other.y4m", "out.y4m"}));
}

// An existing output keeps its permission bits (and, as root, its owner and group); a new one
// gets what a plain create gives.
TEST_F(CliOutputFile, AnExistingFileKeepsItsModeAndOwner) {
    for (mode_t mode : {0640, 0600, 0755, 0444}) {
        write_file(out, "old");
        ASSERT_EQ(::chmod(out.c_str(), mode), 0);
        if (mode == 0444) {  // write-protected: replaced only when forced
            const RunResult refused = run_velmora({"--sigma", "4", in, out});
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.err.find("write-protected; --force"), std::string::npos);
            EXPECT_EQ(read_file(out), "old");
            ASSERT_EQ(run_velmora({"--quiet", "--force", "--sigma", "4", in, out}).status, 0);
        } else {
            ASSERT_EQ(filter_into(out), 0);
        }
        EXPECT_EQ(stat_of(out).st_mode & 07777, mode) << std::oct << mode;
        EXPECT_TRUE(read_file(out) == expected);
    }
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(out.c_str(), 0644), 0);
        ASSERT_EQ(::chown(out.c_str(), 4321, 4322), 0);
        ASSERT_EQ(filter_into(out), 0);
        EXPECT_EQ(stat_of(out).st_uid, 4321u);
        EXPECT_EQ(stat_of(out).st_gid, 4322u);
    }
    ::unlink(out.c_str());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_EQ(filter_into(out), 0);
    EXPECT_EQ(stat_of(out).st_mode & 07777, 0666 & ~mask);
}

// A run killed outright leaves its temporary file, named with its process id; the next run into
// the folder removes it and says so.
TEST_F(CliOutputFile, TheNextRunClearsAKilledRunsTemporaryFile) {
    WaitingRun killed({"--sigma", "4", "-", dir.file("killed.y4m")}, read_file(in));
    const std::string temporary =
        wait_for_entry(dir, ".killed.y4m.velmora-" + std::to_string(killed.pid()) + "-");
    ASSERT_FALSE(temporary.empty());
    killed.stop(SIGKILL);
    ASSERT_EQ(dir.entries(), (std::vector<std::string>{temporary, "in.y4m"}));

    const RunResult next = run_velmora({"--sigma", "4", in, out});
    ASSERT_EQ(next.status, 0) << next.err;
    EXPECT_NE(next.err.find("removed '" + dir.file(temporary) + "'"), std::string::npos)
        << next.err;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "out.y4m"}));
}

// Only files of velmora's naming go, and only when their process is gone and nobody holds their
// lock (a run on another machine sharing the folder).
TEST_F(CliOutputFile, OnlyTemporaryFilesOfEndedRunsAreRemoved) {
    const std::string dead = std::to_string(dead_process_id());
    const std::string alive = std::to_string(::getppid());
    const std::vector<std::string> kept = {
        ".a.y4m.velmora-" + alive + "-abc123",  // its process runs
        ".b.y4m.velmora-" + dead + "-abc123",   // locked below
        "c.y4m.velmora-" + dead + "-abc123",    // not hidden
        ".d.y4m.velmora-" + dead + "-abc12",    // not mkstemp's six letters
        ".e.y4m.velmora-" + dead + "x-abc123",  // not a process id
        ".f.y4m.velmora-" + dead + "-abc123.png",
        ".g.y4m.velmora-" + dead + "-abcdef",  // a folder
    };
    const std::vector<std::string> removed = {".h.y4m.velmora-" + dead + "-Zz09Aa",
                                              ".velmora-" + dead + "-xyzXYZ"};
    for (const std::string& name : kept) write_file(dir.file(name), "");
    ::unlink(dir.file(kept.back()).c_str());
    ASSERT_EQ(::mkdir(dir.file(kept.back()).c_str(), 0755), 0);
    for (const std::string& name : removed) write_file(dir.file(name), "");
    const int locked = ::open(dir.file(kept[1]).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(locked, LOCK_EX), 0);

    std::vector<std::string> expected_paths;
    for (const std::string& name : removed) expected_paths.push_back(dir.path() + "/" + name);
    std::vector<std::string> got = velmora::remove_stale_temporaries(dir.path());
    std::sort(got.begin(), got.end());
    std::sort(expected_paths.begin(), expected_paths.end());
    EXPECT_EQ(got, expected_paths);
    std::vector<std::string> left = kept;
    left.push_back("in.y4m");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(dir.entries(), left);

    ::close(locked);
    EXPECT_EQ(velmora::remove_stale_temporaries(dir.path() + "/"),
              std::vector<std::string>{dir.path() + "/" + kept[1]});
}

// A hard-linked output large enough that copying it in takes a while, and what a run with each
// strength writes into it.
class CliHardLinkedOutput : public CliOutputFile {
protected:
    std::string stream = serialise(
        make_stream(320, 240, velmora::Subsampling::s420, SampleFormat::u8, 60, 5));  // 6.9 MB
    std::string other = dir.file("other.y4m");
    std::string old_content = std::string(1000, 'o');

    std::vector<std::string> filter_args(const char* sigma, const std::string& target) const {
        return {"--quiet", "--mode", "exact", "--sigma", sigma, "-", target};
    }
    std::string result_of(const char* sigma) {
        const std::string path = dir.file("plain.y4m");
        EXPECT_EQ(run_velmora_piped(filter_args(sigma, path), stream).status, 0);
        std::string bytes = read_file(path);
        ::unlink(path.c_str());
        return bytes;
    }
    void make_linked_output() {
        ::unlink(out.c_str());
        ::unlink(other.c_str());
        write_file(out, old_content);
        ASSERT_EQ(::link(out.c_str(), other.c_str()), 0);
    }
};

// An interrupt that comes while the finished output is copied into the file waits for the copy:
// the file is never left half old, half new, and the run still dies of the signal.
TEST_F(CliHardLinkedOutput, InterruptsDuringTheCopyWaitForItsEnd) {
    const std::string result = result_of("4");
    int killed_after_copy_began = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGINT, SIGTERM, SIGHUP}) {
        make_linked_output();
        WaitingRun run(filter_args("4", out), stream);
        run.end_input();
        // The copy has begun when the file's size changes.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (stat_of(out).st_size == static_cast<off_t>(old_content.size()) &&
               std::chrono::steady_clock::now() < until) {
        }
        ::kill(run.pid(), sig);
        const int status = run.stop(0);
        EXPECT_TRUE(read_file(other) == result) << "signal " << sig;
        EXPECT_TRUE(WIFEXITED(status) ? WEXITSTATUS(status) == 0 : WTERMSIG(status) == sig);
        killed_after_copy_began += WIFSIGNALED(status);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "other.y4m", "out.y4m"}));
    }
    EXPECT_GT(killed_after_copy_began, 0);
}

// Two runs never write into one file at once: while one holds it, another is refused with a
// message; started together, each either finishes or is refused, and the file holds one whole
// result.
TEST_F(CliHardLinkedOutput, ASecondRunIntoTheSameFileIsRefused) {
    const std::string gentle = result_of("4"), strong = result_of("12");
    make_linked_output();
    {
        WaitingRun first(filter_args("4", out), stream);
        const RunResult second = run_velmora_piped(filter_args("12", other), stream);
        EXPECT_EQ(second.status, 1);
        EXPECT_NE(second.err.find("'" + other + "' is being written by another velmora run"),
                  std::string::npos)
            << second.err;
        first.end_input();
        EXPECT_EQ(first.stop(0), 0);
        EXPECT_TRUE(read_file(other) == gentle);
    }
    for (int round = 0; round < 4; ++round) {
        make_linked_output();
        RunResult a, b;
        std::thread racing([&] { a = run_velmora_piped(filter_args("4", out), stream); });
        b = run_velmora_piped(filter_args("12", other), stream);
        racing.join();
        const std::string got = read_file(out);
        EXPECT_TRUE(a.status == 0 || b.status == 0) << a.err << b.err;
        for (const RunResult* r : {&a, &b})
            EXPECT_TRUE(r->status == 0 || r->err.find("another velmora run") != std::string::npos)
                << r->err;
        EXPECT_TRUE(got == gentle || got == strong) << "round " << round;
        EXPECT_TRUE(a.status == 0 || got == strong);
        EXPECT_TRUE(b.status == 0 || got == gentle);
    }
}

// Whether a program can be run in a mount namespace of its own (as root), to mount a small disk.
bool can_make_mount_namespaces() {
    return ::geteuid() == 0 && run("/usr/bin/unshare", {"-m", "true"}).status == 0;
}

// Without room for the new content beside the old, the file stays exactly as it was, the message
// says so, and nothing is left behind.
TEST_F(CliOutputFile, NoRoomForAHardLinkedOutputLeavesItAsItWas) {
    if (!can_make_mount_namespaces()) GTEST_SKIP() << "needs root and mount namespaces";
    const std::string big = dir.file("big.y4m");
    write_file(big, serialise(make_stream(256, 256, velmora::Subsampling::s420, SampleFormat::u8, 2,
                                          9)));  // 196 KiB: fits once in 256 KiB, not twice
    ASSERT_EQ(::mkdir(dir.file("small").c_str(), 0755), 0);
    const std::string script = R"(
        D=$1; mount -t tmpfs -o size=256k none "$D/small" || exit 99
        printf old > "$D/small/out.y4m" && ln "$D/small/out.y4m" "$D/small/other.y4m"
        "$2" --quiet --mode exact --sigma 4 "$D/big.y4m" "$D/small/out.y4m"; status=$?
        cp "$D/small/other.y4m" "$D/after" && ls -A "$D/small" > "$D/left"; exit $status)";
    const RunResult r =
        run("/usr/bin/unshare", {"-m", "/bin/sh", "-c", script, "sh", dir.path(), VELMORA_CLI});
    ASSERT_NE(r.status, 99) << r.err;
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no room to replace '" + dir.file("small/out.y4m") +
                         "', which is left as it was: No space left on device"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_file(dir.file("after")), "old");
    EXPECT_EQ(read_file(dir.file("left")), "other.y4m\nout.y4m\n");
}

// In a sticky folder (/tmp) another user's file cannot be renamed over; when it may be written,
// it is written in place, as a shell's '>' would, and found out before the run otherwise.
TEST_F(CliOutputFile, AnotherUsersFileInAStickyFolderIsWrittenInPlace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    const std::string sticky = dir.file("tmp");
    ASSERT_EQ(::mkdir(sticky.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string target = sticky + "/out.y4m";
    write_file(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    const ino_t inode = stat_of(target).st_ino;
    const auto as_nobody = [&](const std::string& output) {
        return run("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                        VELMORA_CLI, "--quiet", "--sigma", "4", in, output});
    };
    const RunResult r = as_nobody(target);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(read_file(target) == expected);
    EXPECT_EQ(stat_of(target).st_ino, inode);
    EXPECT_EQ(stat_of(target).st_uid, 0u);
    ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
    EXPECT_EQ(as_nobody(target).status, 1);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"in.y4m", "tmp"}));
}

}  // namespace
