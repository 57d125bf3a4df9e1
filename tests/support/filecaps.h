#pragma once

// Tests run as root, who reads and writes every file whatever its mode.
// While a WithoutFileCapabilities lives, the calling thread (and every
// thread it starts meanwhile) has lost the capabilities that bypass file
// modes, so a file of mode 000 is really unreadable and a folder of mode
// 0555 really unwritable. Outside root this changes nothing.
namespace varno::test {

class WithoutFileCapabilities
{
public:
    WithoutFileCapabilities();
    ~WithoutFileCapabilities();
    WithoutFileCapabilities(const WithoutFileCapabilities &) = delete;
    WithoutFileCapabilities &operator=(const WithoutFileCapabilities &) = delete;

private:
    unsigned m_saved[2] = {0, 0};
    bool m_changed = false;
};

} // namespace varno::test
