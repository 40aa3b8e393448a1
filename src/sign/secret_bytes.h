// Memory for secret key material and passwords: taken from libgcrypt's secure pool
// (locked where the system allows), wiped before it is given back.
#pragma once

#include <cstddef>
#include <cstdint>

// Overwrites n bytes with zeros in a way the compiler cannot leave out.
void WipeMemory(void* p, size_t n);

// A buffer of secret bytes with a fixed capacity and a length up to it. Empty (Ok() false)
// when the memory could not be had.
class SecretBytes {
public:
    SecretBytes() = default;
    // `capacity` bytes, all zero; the length starts at the capacity.
    explicit SecretBytes(size_t capacity);
    ~SecretBytes();
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    bool Ok() const { return data_ != nullptr; }
    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }
    size_t Capacity() const { return capacity_; }
    // Sets the length (at most the capacity); the bytes beyond it are wiped.
    void Resize(size_t size);

private:
    void Release();
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};
