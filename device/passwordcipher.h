#pragma once

// Cipher of the camera passwords kept in the device store: AES-128 (ECB,
// zero padding) with the program's fixed key on a row-wise state. Both
// functions write into a caller-zeroed 64-byte buffer and never write past
// its first 50 bytes.
//
// The stored field holds the cipher text as it is when none of its bytes is
// zero (the form older clients read and write), otherwise 0x01, the cipher
// text's length and the cipher text.
//
// encode: 0, -101 (the password is longer than 48 bytes or not UTF-8 text
// without control characters; the caller then stores the password in plain)
// or -103 (null pointer or no cipher context).
// decode: 0, -102 (the field is not a cipher text: a password stored plain;
// outBuf is untouched) or -103. The input is a 64-byte field: it is read up
// to its terminator, or to the end of a length-prefixed cipher text, never
// past 64 bytes.
int encode(const char *inBuf, char *outBuf);
int decode(const char *inBuf, char *outBuf);
