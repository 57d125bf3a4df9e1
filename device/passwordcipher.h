#pragma once

// Cipher of the camera passwords kept in the device store: AES-128 (ECB,
// zero padding) with the program's fixed key on a row-wise state. Both
// functions write into a caller-zeroed 64-byte buffer and never write past
// its first 48 bytes.
//
// encode: 0, -101 (the cipher text cannot be stored as text: it holds a zero
// byte, or the password is longer than 48 bytes, or it is not UTF-8 text
// without control characters; the caller then stores the password in plain)
// or -103 (null pointer or no cipher context).
// decode: 0, -102 (the text is not a cipher text: a password stored plain;
// outBuf is untouched) or -103. The input is read up to its terminator but
// never past 64 bytes.
int encode(const char *inBuf, char *outBuf);
int decode(const char *inBuf, char *outBuf);
