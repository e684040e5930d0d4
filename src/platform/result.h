#pragma once
// The one way a core operation says that it failed: it answers a Result,
// which holds its value or the reason it failed, in words the engineer can
// act on; an operation with nothing to answer answers a Status. A caller
// that ignores either gets a warning, so no failure is dropped unseen.
//
//     Result<Backup> b = writeBackup(...);
//     if (!b)
//         say(b.error());
//
// The widgets show error() as it stands; the command line prints it.

#include <QString>
#include <optional>
#include <utility>

namespace gp {

// What makes a failed Result or Status: fail("The port is busy.").
struct Failure {
    QString reason;
};
inline Failure fail(QString reason) {
    return Failure{std::move(reason)};
}

template <typename T> class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure f) : error_(std::move(f.reason)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *value_; }
    T& value() { return *value_; }
    const T& operator*() const { return *value_; }
    T& operator*() { return *value_; }
    const T* operator->() const { return &*value_; }
    T* operator->() { return &*value_; }
    // The reason; empty when it succeeded.
    const QString& error() const { return error_; }
    // The value, or nothing: for a caller that keeps it without the reason.
    std::optional<T> toOptional() const { return value_; }

  private:
    std::optional<T> value_;
    QString error_;
};

class [[nodiscard]] Status {
  public:
    Status() = default; // success
    Status(Failure f) : failed_(true), error_(std::move(f.reason)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // The reason; empty when it succeeded.
    const QString& error() const { return error_; }

  private:
    bool failed_ = false;
    QString error_;
};

} // namespace gp
