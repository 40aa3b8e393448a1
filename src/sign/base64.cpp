// A small strict Base64 coder (no library at hand offers one for both builds).
#include "sign/base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of an alphabet character, -1 for any other.
int Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

void Base64Encode(const uint8_t* in, size_t n, char* out) {
    for (size_t i = 0; i < n; i += 3) {
        const size_t left = n - i;
        const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | (left > 1 ? static_cast<uint32_t>(in[i + 1]) << 8 : 0) |
                           (left > 2 ? in[i + 2] : 0);
        *out++ = kAlphabet[v >> 18];
        *out++ = kAlphabet[(v >> 12) & 63];
        *out++ = left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        *out++ = left > 2 ? kAlphabet[v & 63] : '=';
    }
}

std::string Base64Encode(const uint8_t* in, size_t n) {
    std::string text(Base64EncodedSize(n), '\0');
    Base64Encode(in, n, &text[0]);
    return text;
}

bool Base64Decode(const char* in, size_t n, uint8_t* out, size_t capacity, size_t* size) {
    *size = 0;
    if (n % 4 != 0) return false;
    size_t padding = 0;
    if (n >= 1 && in[n - 1] == '=') ++padding;
    if (n >= 2 && in[n - 2] == '=') ++padding;
    const size_t length = n / 4 * 3 - padding;
    if (length > capacity) return false;
    size_t put = 0;
    for (size_t i = 0; i < n; i += 4) {
        uint32_t v = 0;
        const bool last = i + 4 == n;
        for (size_t j = 0; j < 4; ++j) {
            const bool pad = last && j >= 4 - padding;
            const int d = pad ? 0 : Value(in[i + j]);
            if (d < 0) return false;
            v = v << 6 | static_cast<uint32_t>(d);
        }
        // Padding must stand for zero bits: "QR==" is not "QQ==" in disguise.
        if ((last && padding == 2 && (v & 0xFFFF) != 0) || (last && padding == 1 && (v & 0xFF) != 0)) return false;
        const uint8_t bytes[3] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        for (size_t j = 0; j < 3 && put < length; ++j) out[put++] = bytes[j];
    }
    *size = length;
    return true;
}
