// An output that appears only when complete: written under a temporary name beside the target
// and renamed over it on commit. Abandoned (or interrupted by SIGINT, SIGTERM or SIGHUP) it
// leaves no file behind. "-" is standard output; an existing target that is not a regular file
// (a device, a FIFO) is written directly. A write-protected file is replaced only when asked.
//
// A symbolic link is followed: the file it leads to is replaced and the link stays. An existing
// file keeps its permission bits (and, where the process may set them, its owner and group). A
// file with more than one name (hard links), or one whose name this process may not replace (in
// a sticky folder), keeps its identity: the finished output is copied into it on commit instead
// of renamed over it, so every name shows the new content. Such a file is locked for the whole
// run (a second run into it is refused), room for the new content is set aside before the copy
// begins (no room: the file stays as it was), and an interrupt during the copy waits for its
// end. Only SIGKILL or a failing disk can leave it half written; then the finished output is
// kept beside it.
//
// Temporary files are named ".NAME.velmora-PID-XXXXXX" and locked while written. A run killed
// outright (SIGKILL, a power cut) cannot remove its own; the next run into the same folder does,
// for every such file whose process is gone and whose lock is free.
#pragma once

#include <string>
#include <vector>

namespace velmora {

class OutputFile {
public:
    // Removes stale temporary files in the target's folder and creates the temporary file.
    // Throws IoError.
    explicit OutputFile(const std::string& target, bool replace_read_only = false);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    // Closes the file and gives it its name. Throws IoError.
    void commit();

    // The stale temporary files the constructor removed.
    const std::vector<std::string>& removed() const { return removed_; }

private:
    void open_in_place(const std::string& given);
    void create_temporary(const std::string& dir, const std::string& name);
    void replace_in_place();
    // Gives the temporary file a lasting name beside the target: what the message adds.
    std::string keep_finished();

    std::string target_;     // the file written: the given name with symbolic links followed
    std::string temporary_;  // empty when writing directly
    int fd_ = -1;
    int target_fd_ = -1;  // the target itself, when written in place
    int slot_ = -1;       // in the interrupt clean-up list
    bool to_stdout_ = false;
    bool committed_ = false;
    bool in_place_ = false;  // copy into the target on commit (it has other names)
    std::vector<std::string> removed_;
};

// The file a name leads to: symbolic links followed (relative ones from their own folder), the
// last one possibly to a file that does not exist yet. Throws IoError for a loop of links.
std::string follow_links(const std::string& name);

// Whether two names lead to the same file: the same inode, or, where neither exists yet, the
// same name in the same folder.
bool same_file(const std::string& a, const std::string& b);

// Removes the temporary files of velmora's naming in `folder` ("" for the current one) whose
// process is gone and whose lock is free; returns their paths.
std::vector<std::string> remove_stale_temporaries(const std::string& folder);

}  // namespace velmora
