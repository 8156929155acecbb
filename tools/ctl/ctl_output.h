#pragma once
// Standard output for quarvel-ctl: a buffer over a file descriptor that remembers why a write
// failed, so that "the disk is full" can still be said after later calls changed errno.

#include <array>
#include <streambuf>

namespace quarvel::ctl {

class FileOutput : public std::streambuf {
  public:
    explicit FileOutput(int fd);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    // Whether the reader of a pipe has closed it, asked without writing (false elsewhere).
    bool readerGone() const;

  protected:
    int_type overflow(int_type c) override;
    // Fails again with the first error's errno once a write has failed.
    int sync() override;

  private:
    bool drain();

    int fd_;
    int error_ = 0;
    std::array<char, 4096> buffer_{};
};

}  // namespace quarvel::ctl
