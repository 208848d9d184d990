// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A field of a core object that everyone may read and only its owner may write. The owner
// class names it as its own state (LinkOpen, TxSequence, ...); others read it as a plain value
// and change it only through a method of the owner.

#include <utility>

template <typename T, typename Owner> class Owned
{
public:
    Owned() = default;
    explicit Owned(T value) : value_(std::move(value)) {}
    Owned(const Owned&) = delete;

    operator const T&() const noexcept { return value_; }
    const T& get() const noexcept { return value_; }
    const T* operator->() const noexcept { return &value_; }

private:
    friend Owner;
    Owned& operator=(const Owned&) = delete;
    Owned& operator=(T value)
    {
        value_ = std::move(value);
        return *this;
    }
    T& ref() noexcept { return value_; }

    T value_{};
};
