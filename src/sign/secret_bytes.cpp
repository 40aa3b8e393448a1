// Secret buffers in libgcrypt's secure memory, wiped on release.
#include "sign/secret_bytes.h"

#include <gcrypt.h>

#include "sign/crypto.h"

void WipeMemory(void* p, size_t n) {
    volatile uint8_t* bytes = static_cast<volatile uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) bytes[i] = 0;
}

SecretBytes::SecretBytes(size_t capacity) {
    if (!crypto::Ready() || capacity == 0) return;
    data_ = static_cast<uint8_t*>(gcry_calloc_secure(capacity, 1));
    if (data_ == nullptr) return;
    size_ = capacity;
    capacity_ = capacity;
}

SecretBytes::~SecretBytes() { Release(); }

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

void SecretBytes::Resize(size_t size) {
    if (size > capacity_) size = capacity_;
    if (size < size_) WipeMemory(data_ + size, size_ - size);
    size_ = size;
}

void SecretBytes::Release() {
    if (data_ == nullptr) return;
    WipeMemory(data_, capacity_);
    gcry_free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}
