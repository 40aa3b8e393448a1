// The apply phase's 21 text lines: found among the program's raw-data resources and
// packed into one fixed block, with lines 1 and 2 divided into "|" sub-items.
#include "package/message_table.h"

#include <cstring>

namespace {
constexpr char kEmptyLine[] = "-|-|-|";
}

std::unique_ptr<MessageTable> MessageTable::LoadFromResource(os::Module module, os::ResourceName name) {
    const void* data = nullptr;
    size_t size = 0;
    if (os::FindRawResource(module, name, &data, &size) ||
        os::FindRawResource(module, os::ResourceName{0, kFallbackName}, &data, &size)) {
        // The stream only reads the resource; it never writes through the pointer.
        const uint32_t n = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(size);
        TCVLFlatRamStream text(const_cast<void*>(data), n, n);
        return Parse(text);
    }
    static char not_available[] = "N/A";
    TCVLFlatRamStream text(not_available, 3, 3);
    return Parse(text);
}

std::unique_ptr<MessageTable> MessageTable::Parse(TCVLStream& stream) {
    std::unique_ptr<MessageTable> table(new MessageTable());
    table->text_.reset(new char[kLines * kLineSize]());
    stream.Rewind();
    char* cursor = table->text_.get();
    for (int i = 0; i < kLines; ++i) {
        // Each line takes at most kLineSize bytes with its NUL, so the block always fits.
        stream.ReadLine(cursor, kLineSize);
        if (cursor[0] == '\0') std::memcpy(cursor, kEmptyLine, sizeof kEmptyLine);
        const size_t len = std::strlen(cursor);
        table->lines_[i] = cursor;
        if (i == kMsgOperationWords || i == kMsgQuestionLabels) {
            for (size_t k = 0; k < len; ++k)
                if (cursor[k] == '|') cursor[k] = '\0';
        }
        cursor += len + 1;
    }
    return table;
}

const char* MessageTable::Line(int index) const {
    if (index < 0 || index >= kLines || lines_[index] == nullptr) return "";
    return lines_[index];
}

// Skips k NUL-ended pieces from the start of the line. A piece beyond the line's own
// pieces is "" rather than text of the following lines.
const char* MessageTable::SubItem(int index, int k) const {
    if (index < 0 || index >= kLines || lines_[index] == nullptr || k < 0) return "";
    // Lines are packed, so a line ends where the next one begins.
    const char* end = index + 1 < kLines ? lines_[index + 1]
                                         : lines_[index] + std::strlen(lines_[index]) + 1;
    const char* p = lines_[index];
    for (int i = 0; i < k; ++i) {
        p += std::strlen(p) + 1;
        if (p >= end) return "";
    }
    return p;
}
