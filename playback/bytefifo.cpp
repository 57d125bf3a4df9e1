#include "playback/bytefifo.h"

#include <cstdio>
#include <new>

ByteFifo::~ByteFifo()
{
    destroy();
}

bool ByteFifo::create(uint32_t capacity)
{
    destroy();
    m_buffer = new (std::nothrow) uint8_t[capacity ? capacity : 1];
    if (!m_buffer) {
        std::fputs("my_malloc fifo->buf error ... \n", stdout);
        return false;
    }
    m_capacity = capacity;
    m_free = capacity;
    m_write = m_read = 0;
    return true;
}

void ByteFifo::destroy()
{
    delete[] m_buffer;
    m_buffer = nullptr;
    m_capacity = m_free = m_write = m_read = 0;
}

uint32_t ByteFifo::put(const uint8_t *data, uint32_t size)
{
    uint32_t n = 0;
    while (n < size && m_free > 0) {
        m_buffer[m_write] = data[n++];
        m_write = m_write + 1 == m_capacity ? 0 : m_write + 1;
        --m_free;
    }
    return n;
}

uint32_t ByteFifo::get(uint8_t *out, uint32_t size)
{
    uint32_t n = 0;
    while (n < size && m_free < m_capacity) {
        out[n++] = m_buffer[m_read];
        m_read = m_read + 1 == m_capacity ? 0 : m_read + 1;
        ++m_free;
    }
    return n;
}
