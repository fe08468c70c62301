#pragma once
#include <utility>

// Owns one platform resource and gives it back through Close when it goes out of scope or
// is reset. An empty owner holds T{} (a null handle or pointer).
template <typename T, auto Close>
class UniqueResource {
  public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(value) {}
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;
    ~UniqueResource() { reset(); }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }

    // Closes what is held and returns the slot for an out-parameter.
    T* put() {
        reset();
        return &value_;
    }
    void reset(T value = T{}) {
        T old = std::exchange(value_, value);
        if (old != T{}) Close(old);
    }
    T release() { return std::exchange(value_, T{}); }

  private:
    T value_{};
};
