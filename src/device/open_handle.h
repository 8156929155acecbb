#pragma once
// Ownership of one open HID handle: closed exactly once, by close() or at destruction.

#include <utility>

#include "device/hid_backend.h"

namespace quarvel {

class OpenHandle {
  public:
    OpenHandle() = default;
    OpenHandle(HidBackend& backend, HidHandleId id) : backend_(&backend), id_(id) {}
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;
    OpenHandle(OpenHandle&& other) noexcept
        : backend_(std::exchange(other.backend_, nullptr)), id_(std::exchange(other.id_, 0)) {}
    OpenHandle& operator=(OpenHandle&& other) noexcept {
        if (this != &other) {
            close();
            backend_ = std::exchange(other.backend_, nullptr);
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    ~OpenHandle() { close(); }

    bool isOpen() const { return backend_ != nullptr; }
    HidHandleId id() const { return id_; }

    // The platform's result of the close; false (and no call) when nothing was open.
    bool close() {
        if (backend_ == nullptr) return false;
        const bool result = backend_->close(id_);
        backend_ = nullptr;
        id_ = 0;
        return result;
    }

  private:
    HidBackend* backend_ = nullptr;
    HidHandleId id_ = 0;
};

}  // namespace quarvel
