#pragma once

#include <cstdint>

// Byte ring buffer of the MP4 export's audio path. put copies while space
// is free and drops the rest; get copies while data is present.
class ByteFifo
{
public:
    ByteFifo() = default;
    ~ByteFifo();
    ByteFifo(const ByteFifo &) = delete;
    ByteFifo &operator=(const ByteFifo &) = delete;

    bool create(uint32_t capacity);
    void destroy();
    bool valid() const { return m_buffer != nullptr; }

    // Returns the bytes taken or given.
    uint32_t put(const uint8_t *data, uint32_t size);
    uint32_t get(uint8_t *out, uint32_t size);
    uint32_t length() const { return m_capacity - m_free; }
    uint32_t freeBytes() const { return m_free; }
    uint32_t capacity() const { return m_capacity; }

private:
    uint32_t m_write = 0;
    uint32_t m_read = 0;
    uint32_t m_free = 0;
    uint32_t m_capacity = 0;
    uint8_t *m_buffer = nullptr;
};
