#pragma once

#include <cstddef>
#include <cstdint>

// One remembered login of "localusr.db" (72 bytes). The file is a plain
// sequence of these records without a header; a remainder shorter than a
// record is ignored.
struct LocalUsr_s
{
    char user[32];        // NUL-terminated
    char password[32];    // NUL-terminated; all zero when not remembered
    uint8_t remember;     // 1 when "Remember Password" was ticked
    uint8_t reserved[3];  // zero
    int32_t language;     // little-endian: 0 English, 1 German
};

static_assert(sizeof(LocalUsr_s) == 72);
static_assert(offsetof(LocalUsr_s, user) == 0);
static_assert(offsetof(LocalUsr_s, password) == 32);
static_assert(offsetof(LocalUsr_s, remember) == 64);
static_assert(offsetof(LocalUsr_s, reserved) == 65);
static_assert(offsetof(LocalUsr_s, language) == 68);
