// The applicator front end's portable rules: package path from the command line or beside
// the program, the folder chooser's answer, the percentage bar's geometry.
#include "ui/front_end_rules.h"

#include <cstdint>
#include <cstring>

namespace {

// Copies `length` bytes of `text` and then `tail` into out; false (out empty) when the
// result with its NUL does not fit.
bool Compose(const char* text, size_t length, const char* tail, char* out, size_t size) {
    if (size == 0) return false;
    const size_t tail_length = std::strlen(tail);
    if (length + tail_length + 1 > size) {
        out[0] = '\0';
        return false;
    }
    std::memmove(out, text, length);
    std::memcpy(out + length, tail, tail_length + 1);
    return true;
}

}  // namespace

bool PackagePathFromCommandLine(const char* tail, char* out, size_t size) {
    size_t length = std::strlen(tail);
    if (length >= 2 && tail[0] == '"' && tail[length - 1] == '"') {
        ++tail;
        length -= 2;
    }
    return Compose(tail, length, "", out, size);
}

bool PackageNamedLikeProgram(const char* program_path, char* out, size_t size) {
    const char* dot = std::strrchr(program_path, '.');
    const size_t length = dot ? static_cast<size_t>(dot - program_path) : std::strlen(program_path);
    return Compose(program_path, length, ".upg", out, size);
}

bool DefaultPackageBesideProgram(const char* program_path, char* out, size_t size) {
    const char* separator = std::strrchr(program_path, '\\');
    if (separator == nullptr) return Compose("", 0, "default.upg", out, size);
    return Compose(program_path, static_cast<size_t>(separator - program_path), "\\default.upg", out, size);
}

bool FolderFromChooserAnswer(const char* answer, char* out, size_t size) {
    const char* separator = std::strrchr(answer, '\\');
    if (separator == nullptr) return false;
    size_t length = static_cast<size_t>(separator - answer);
    const bool drive = length < 3;  // "C:" is the drive, its root is "C:\"
    if (length + (drive ? 1 : 0) + 1 > size) return false;
    std::memmove(out, answer, length);
    if (drive) out[length++] = '\\';
    out[length] = '\0';
    return true;
}

int MulDivRounded(int a, int b, int c) {
    if (c == 0) return -1;
    const int64_t product = static_cast<int64_t>(a) * b;
    const int64_t half = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
    const bool negative = (product < 0) != (c < 0);
    const int64_t magnitude = (product < 0 ? -product : product) + half;
    const int64_t quotient = magnitude / (c < 0 ? -static_cast<int64_t>(c) : c);
    return static_cast<int>(negative ? -quotient : quotient);
}

PercentBarLayout LayoutPercentBar(const BarRect& client, int percent, int text_height) {
    const int left = client.left + 1;
    const int top = client.top + 1;
    const int width = (client.right - 1) - left;
    const int height = (client.bottom - 1) - top;
    const int fill = left + MulDivRounded(percent, width, 100);
    PercentBarLayout layout;
    layout.filled = BarRect{left, top, fill, top + height};
    layout.empty = BarRect{fill + 1, top, left + width, top + height};
    layout.text_x = left + width / 2;
    layout.text_y = top + (height - text_height) / 2;
    return layout;
}
