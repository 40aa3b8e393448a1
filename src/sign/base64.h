// Base64 as minisign's files use it: the standard alphabet with "=" padding, one line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The number of characters Base64Encode writes for n bytes.
constexpr size_t Base64EncodedSize(size_t n) { return (n + 2) / 3 * 4; }
// Writes Base64EncodedSize(n) characters (no NUL) to out.
void Base64Encode(const uint8_t* in, size_t n, char* out);
std::string Base64Encode(const uint8_t* in, size_t n);
// Decodes exactly the text given: only alphabet characters, the length a multiple of four,
// at most two "=" and only at the end, and no bits set beyond the data. False for anything
// else or when the result would not fit `capacity`; *size is the decoded length.
bool Base64Decode(const char* in, size_t n, uint8_t* out, size_t capacity, size_t* size);
