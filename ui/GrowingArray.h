// SPDX-License-Identifier: MIT
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

// An array of plain values that grows without copying them: its block is grown with realloc,
// and the C library moves a block this large by remapping its pages. QByteArray, QList and
// std::vector copy their whole contents into a new block instead, so that for a moment the old
// and the new block are both in memory.
template <class T> class GrowingArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Sets aside room for `capacity` values: address space only, until values arrive.
    explicit GrowingArray(std::size_t capacity = 0) { reserve(capacity); }
    GrowingArray(GrowingArray&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
          m_capacity(std::exchange(other.m_capacity, 0)) {}
    GrowingArray& operator=(GrowingArray&& other) noexcept {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
        return *this;
    }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;
    ~GrowingArray() { std::free(m_data); }

    // Throws std::bad_alloc when memory runs out; the array is then as it was.
    void append(const T* values, std::size_t count) {
        if (count > m_capacity - m_size)
            reserve(std::max(m_capacity * 2, m_size + count));
        if (count != 0)
            std::memcpy(m_data + m_size, values, count * sizeof(T));
        m_size += count;
    }
    void append(const T& value) { append(&value, 1); }

    const T* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    const T& operator[](std::size_t i) const { return m_data[i]; }

private:
    void reserve(std::size_t capacity) {
        if (capacity <= m_capacity)
            return;
        if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(T))
            throw std::bad_alloc();
        T* data = static_cast<T*>(std::realloc(m_data, capacity * sizeof(T)));
        if (!data)
            throw std::bad_alloc();
        m_data = data;
        m_capacity = capacity;
    }

    T* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};
