#include "ctl_output.h"

#include <cerrno>

#if defined(_WIN32)
#include <io.h>
#define write _write
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace quarvel::ctl {

FileOutput::FileOutput(int fd) : fd_(fd) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FileOutput::~FileOutput() {
    drain();
}

bool FileOutput::drain() {
    if (error_ != 0) {
        errno = error_;
        return false;
    }
    for (const char* p = pbase(); p < pptr();) {
        const auto n = write(fd_, p, static_cast<unsigned>(pptr() - p));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error_ = n < 0 ? errno : EIO;
            errno = error_;
            return false;
        }
        p += n;
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return true;
}

FileOutput::int_type FileOutput::overflow(int_type c) {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
}

bool FileOutput::readerGone() const {
#if defined(_WIN32)
    return false;
#else
    // A pipe whose reader has gone reports an error on the writing end; a file never does.
    pollfd out{fd_, 0, 0};
    return poll(&out, 1, 0) == 1 && (out.revents & (POLLERR | POLLHUP)) != 0;
#endif
}

int FileOutput::sync() {
    return drain() ? 0 : -1;
}

}  // namespace quarvel::ctl
