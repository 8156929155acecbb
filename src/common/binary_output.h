#pragma once
// Standard output and error carry exactly the bytes a program writes, on every system. On
// Windows they start as text streams, which write each "\n" as "\r\n": output would then differ
// from the Linux build's, and scripts that compare it would break.

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

namespace quarvel {

inline void useBinaryStandardOutput() {
#if defined(_WIN32)
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

}  // namespace quarvel
