// SPDX-License-Identifier: GPL-3.0-or-later
// A value or an error, for pure code that reports failures without exceptions (std::expected arrives with C++23).
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace vantrel {

template <class E>
struct Unexpected {
    E error;
};

template <class E>
Unexpected<E> unexpected(E error)
{
    return Unexpected<E>{std::move(error)};
}

template <class T, class E>
class Expected {
public:
    Expected(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Expected(Unexpected<E> failure) : m_state(std::in_place_index<1>, std::move(failure.error)) {}

    bool hasValue() const noexcept { return m_state.index() == 0; }
    explicit operator bool() const noexcept { return hasValue(); }

    T& value() & { assert(hasValue()); return std::get<0>(m_state); }
    const T& value() const& { assert(hasValue()); return std::get<0>(m_state); }
    T&& value() && { assert(hasValue()); return std::get<0>(std::move(m_state)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const E& error() const& { assert(!hasValue()); return std::get<1>(m_state); }

private:
    std::variant<T, E> m_state;
};

// For operations that return nothing on success.
template <class E>
class Expected<void, E> {
public:
    Expected() = default;
    Expected(Unexpected<E> failure) : m_error(std::move(failure.error)), m_hasError(true) {}

    bool hasValue() const noexcept { return !m_hasError; }
    explicit operator bool() const noexcept { return hasValue(); }
    const E& error() const& { assert(m_hasError); return m_error; }

private:
    E m_error{};
    bool m_hasError = false;
};

}  // namespace vantrel
