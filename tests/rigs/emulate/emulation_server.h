#pragma once
// The FUSE server behind the emulated hidraw nodes (private to the emulation).

#define FUSE_USE_VERSION 35

#include <fuse.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "emulation.h"

namespace quarvel {

struct Emulation::Server {
    explicit Server(Emulation& e) : owner(e) {}
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Mounts the node files at where and serves them on a thread of their own.
    bool start(const std::string& where);
    bool usesReportIds(DeviceId device);

    static int getattr(const char* path, struct stat* st, fuse_file_info* fi);
    static int open(const char* path, fuse_file_info* fi);
    static int release(const char* path, fuse_file_info* fi);
    static int read(const char* path, char* out, std::size_t size, off_t, fuse_file_info* fi);
    static int write(const char* path, const char* in, std::size_t size, off_t, fuse_file_info* fi);
    static int poll(const char* path, fuse_file_info* fi, fuse_pollhandle* ph, unsigned* revents);
    static int ioctl(const char* path, unsigned int cmd, void* arg, fuse_file_info* fi,
                     unsigned flags, void* data);

    Emulation& owner;
    fuse* fs = nullptr;
    bool mounted = false;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::map<DeviceId, bool> reportIds;

  private:
    void serve();
};

}  // namespace quarvel
