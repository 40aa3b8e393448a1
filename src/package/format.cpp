// Encoding of the 10-byte file identity stored in package entry records.
#include "package/format.h"

FileIdentity DecodeIdentity(const uint8_t bytes[kIdentitySize]) {
    FileIdentity id;
    id.stamp = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
               (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    id.size = static_cast<uint32_t>(bytes[4]) | (static_cast<uint32_t>(bytes[5]) << 8) |
              (static_cast<uint32_t>(bytes[6]) << 16) | (static_cast<uint32_t>(bytes[7]) << 24);
    id.check = static_cast<uint16_t>(bytes[8] | (bytes[9] << 8));
    return id;
}

void EncodeIdentity(const FileIdentity& id, uint8_t bytes[kIdentitySize]) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(id.stamp >> (8 * i));
        bytes[4 + i] = static_cast<uint8_t>(id.size >> (8 * i));
    }
    bytes[8] = static_cast<uint8_t>(id.check);
    bytes[9] = static_cast<uint8_t>(id.check >> 8);
}
