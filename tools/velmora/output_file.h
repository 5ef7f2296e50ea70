// An output that appears only when complete: written under a temporary name beside the target
// and renamed over it on commit. Abandoned (or interrupted by SIGINT, SIGTERM or SIGHUP) it
// leaves no file behind. "-" is standard output; an existing target that is not a regular file
// (a device, a FIFO) is written directly.
#pragma once

#include <string>

namespace velmora {

class OutputFile {
public:
    // Creates the temporary file. Throws IoError.
    explicit OutputFile(const std::string& target);
    ~OutputFile();  // removes the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    int fd() const { return fd_; }
    // Closes the file and gives it its name. Throws IoError.
    void commit();

private:
    std::string target_;
    std::string temporary_;  // empty when writing directly
    int fd_ = -1;
    int slot_ = -1;  // in the interrupt clean-up list
    bool committed_ = false;
};

// Removes every uncommitted temporary file on SIGINT, SIGTERM and SIGHUP, then dies of the
// signal as it would have.
void install_interrupt_cleanup();

}  // namespace velmora
