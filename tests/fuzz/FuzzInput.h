#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Reads a fuzz input as a sequence of choices. An exhausted input reads as zeros, so every
// input, however short, is a complete case.
class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return pos_ >= size_; }
    size_t Left() const { return size_ - pos_; }

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() {
        const uint16_t high = Byte();
        return static_cast<uint16_t>(high << 8 | Byte());
    }
    int16_t I16() { return static_cast<int16_t>(U16()); }
    bool Flag() { return (Byte() & 1) != 0; }
    // A number in [0, n), n > 0.
    uint32_t Below(uint32_t n) { return U16() % n; }

    // Up to `count` bytes (fewer when the input ends).
    std::string Bytes(size_t count) {
        const size_t n = count < Left() ? count : Left();
        std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
        pos_ += n;
        return out;
    }
    // A piece whose length is given by the byte before it.
    std::string Piece() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(Left()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// An invariant of a fuzz target: a violation ends the process as a finding, with the reason.
#define FUZZ_CHECK(condition, what)                                                           \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__, \
                         #condition, std::string(what).c_str());                              \
            std::abort();                                                                     \
        }                                                                                     \
    } while (0)
