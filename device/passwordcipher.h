#pragma once

// Cipher of the camera passwords kept in the device store: AES-128 (ECB,
// zero padding) with the program's fixed key on a row-wise state. Both
// functions write into a caller-zeroed 64-byte buffer.
//
// encode: 0, -101 (the cipher text holds a zero byte and cannot be stored as
// text) or -103 (null pointer or no cipher context).
// decode: 0, -102 (the text is not a cipher text: a password stored plain) or
// -103.
int encode(const char *inBuf, char *outBuf);
int decode(const char *inBuf, char *outBuf);
