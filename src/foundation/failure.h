#pragma once

#include <QString>

#include <utility>
#include <variant>

namespace zapum {

// A failure that may reach the user. Outside services put their own name in `domain` and a
// sentence meant for the user in `message`; `code` is whatever number the service attaches.
struct Failure {
    QString domain;
    int code = 0;
    QString message;

    bool operator==(const Failure &) const = default;
};

// Either a value or a Failure. Kept deliberately small: no exceptions cross a co_await, so every
// fallible step returns one of these.
template <typename T>
class Result {
public:
    Result(T value) : m_state(std::move(value)) {}  // NOLINT(google-explicit-constructor)
    Result(Failure failure) : m_state(std::move(failure)) {}  // NOLINT(google-explicit-constructor)

    bool ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return ok(); }

    const T &value() const & { return std::get<T>(m_state); }
    T &value() & { return std::get<T>(m_state); }
    T &&value() && { return std::get<T>(std::move(m_state)); }
    const Failure &failure() const { return std::get<Failure>(m_state); }

private:
    std::variant<T, Failure> m_state;
};

// For operations that succeed with nothing to say.
struct Done {
    bool operator==(const Done &) const = default;
};
using Status = Result<Done>;

}  // namespace zapum
