#pragma once
// The one owner type for a reference to a GObject: the container library's
// inputs and archives are such objects, each released by dropping its
// reference.
#include <utility>

namespace ratemover::spreadsheet {

void ReleaseGObject(void* object) noexcept;

// Owns one reference (or none); releases it when destroyed.
template <typename T>
class GObjectRef {
 public:
  GObjectRef() = default;
  // Takes over a reference that the caller holds.
  explicit GObjectRef(T* object) : object_(object) {}
  ~GObjectRef() {
    if (object_ != nullptr) ReleaseGObject(object_);
  }
  GObjectRef(GObjectRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  GObjectRef& operator=(GObjectRef&& other) noexcept {
    if (this != &other) {
      if (object_ != nullptr) ReleaseGObject(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  GObjectRef(const GObjectRef&) = delete;
  GObjectRef& operator=(const GObjectRef&) = delete;

  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

}  // namespace ratemover::spreadsheet
