// Small whole-file reads and writes of the signing code through the OS layer.
#include "sign/files.h"

#include <cstdint>

namespace sign {
namespace {

// Reads up to `max` + 1 bytes of an open file into a caller's buffer: more than `max`
// means the file is too large.
template <typename Buffer>
bool ReadInto(const char* path, size_t max, Buffer* out, uint8_t* (*data)(Buffer*), std::string* error) {
    if (os::GetAttributes(path) == os::kInvalidAttributes) {
        *error = "does not exist";
        return false;
    }
    FileOwner file(os::OpenFile(path, os::kModeRead | os::kShareRead));
    if (!file.Open()) {
        *error = "cannot be read";
        return false;
    }
    size_t have = 0;
    for (;;) {
        uint32_t got = 0;
        if (!os::ReadFile(file.Get(), data(out) + have, static_cast<uint32_t>(max + 1 - have), &got)) {
            *error = "cannot be read";
            return false;
        }
        if (got == 0) break;
        have += got;
        if (have > max) {
            *error = "is larger than " + std::to_string(max) + " bytes";
            return false;
        }
    }
    out->resize(have);
    return true;
}

// Adapts SecretBytes to the resize() that ReadInto calls.
struct SecretBuffer {
    SecretBytes* bytes;
    void resize(size_t n) { bytes->Resize(n); }
};

uint8_t* StringData(std::string* s) { return reinterpret_cast<uint8_t*>(&(*s)[0]); }
uint8_t* SecretData(SecretBuffer* s) { return s->bytes->Data(); }

}  // namespace

bool WriteAll(os::FileHandle h, const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
        const uint32_t chunk = n > (1u << 30) ? (1u << 30) : static_cast<uint32_t>(n);
        uint32_t put = 0;
        if (!os::WriteFile(h, p, chunk, &put) || put != chunk) return false;
        p += chunk;
        n -= chunk;
    }
    return true;
}

bool ReadSmallFile(const char* path, size_t max, std::string* text, std::string* error) {
    text->assign(max + 1, '\0');
    return ReadInto(path, max, text, StringData, error);
}

bool ReadSecretFile(const char* path, size_t max, SecretBytes* text, std::string* error) {
    *text = SecretBytes(max + 1);
    if (!text->Ok()) {
        *error = "cannot be read into secure memory";
        return false;
    }
    SecretBuffer buffer{text};
    return ReadInto(path, max, &buffer, SecretData, error);
}

bool WriteNewFile(const char* path, const void* data, size_t n, bool owner_only, std::string* error) {
    FileOwner file(owner_only ? os::CreatePrivateFile(path) : os::OpenFile(path, os::kModeCreateNew));
    if (!file.Open()) {
        *error = os::GetAttributes(path) != os::kInvalidAttributes ? "already exists" : "cannot be created";
        return false;
    }
    const bool ok = WriteAll(file.Get(), data, n) && os::SyncFile(file.Get());
    file.Close();
    if (!ok) {
        os::DeleteFile(path);
        *error = "could not be written (is the disk full?)";
    }
    return ok;
}

bool ReplaceFileText(const char* path, const std::string& text, std::string* error) {
    const std::string fresh = std::string(path) + ".ambrel-new";
    os::DeleteFile(fresh.c_str());  // left by a run that was killed, if anything
    if (!WriteNewFile(fresh.c_str(), text.data(), text.size(), false, error)) {
        *error = "cannot be written beside itself (" + fresh + " " + *error + ")";
        return false;
    }
    if (!os::ReplaceFile(fresh.c_str(), path)) {
        os::DeleteFile(fresh.c_str());
        *error = "cannot be replaced";
        return false;
    }
    return true;
}

}  // namespace sign
