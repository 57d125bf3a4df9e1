#pragma once

#include <cstdint>

// Authentication token carried by every peer-to-peer request payload.
//
// Writes into token the MD5 digest (RFC 1321) of the text
// "<password>:<number>:varno" (number in decimal, with a minus sign when
// negative) as 32 lowercase hexadecimal digits followed by a NUL: exactly
// 33 bytes, so the caller's field must hold at least 33. The password is
// taken up to its terminator, of any length. Which number goes in is given
// by each request.
//
// Returns 0, or -1 when password or token is null (token is then left as
// it was).
int MakeAuthToken(const char *password, int32_t number, char *token);

inline constexpr int kAuthTokenSize = 33;
