#pragma once
// What every fuzz target shares: a property check that stops the run with a
// message (the fuzzer keeps the input that made it fail), and a reader that
// turns the fuzzer's bytes into the small decisions a target needs.

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond, what)                                                                     \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "property violated: %s (%s:%d): %s\n", #cond, __FILE__, __LINE__, \
                         qPrintable(QString(what)));                                               \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

namespace gp::fuzz {

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    size_t left() const { return size_ - pos_; }
    uint8_t byte() { return empty() ? 0 : data_[pos_++]; }
    bool flag() { return byte() & 1; }
    uint32_t u32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | byte();
        return v;
    }
    // Up to max bytes, at most what is left.
    QByteArray bytes(size_t max) {
        const size_t n = std::min(max, left());
        QByteArray out(reinterpret_cast<const char*>(data_ + pos_), static_cast<qsizetype>(n));
        pos_ += n;
        return out;
    }
    // A length byte, then that many bytes.
    QByteArray chunk(size_t max) { return bytes(std::min<size_t>(byte(), max)); }
    QByteArray rest() { return bytes(left()); }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace gp::fuzz
