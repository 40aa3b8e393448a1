// The 21 text lines of the apply phase, read from the program's own resources. Lines 1
// and 2 are divided at "|" into sub-items; every text is referred to by line number.
#pragma once

#include <memory>

#include "io/os.h"
#include "io/stream.h"

class MessageTable {
public:
    static constexpr int kLines = 21;
    static constexpr int kLineSize = 256;
    static constexpr int kResourceId = 101;
    static constexpr const char* kFallbackName = "AMBRELUI";

    // Loads the raw-data resource `name` of `module`; falls back to the resource named
    // "AMBRELUI", then to a table whose line 0 is "N/A" and every other line "-|-|-|".
    static std::unique_ptr<MessageTable> LoadFromResource(os::Module module, os::ResourceName name);
    // Builds the table from CR LF text lines; missing or empty lines read "-|-|-|".
    static std::unique_ptr<MessageTable> Parse(TCVLStream& stream);

    const char* Line(int index) const;           // "" for an index outside 0..20
    const char* SubItem(int index, int k) const;  // k-th "|" piece of line index

private:
    MessageTable() = default;
    std::unique_ptr<char[]> text_;
    const char* lines_[kLines] = {};
};

// Line numbers the engine refers to.
enum MessageLine : int {
    kMsgLanguage = 0,
    kMsgOperationWords = 1,
    kMsgQuestionLabels = 2,
    kMsgCaption = 3,
    kMsgCancel = 4,
    kMsgInitializing = 5,
    kMsgInstalling = 6,
    kMsgContinue = 7,
    kMsgConfirmCancel = 8,
    kMsgAddExists = 9,
    kMsgTimeDiffers = 10,
    kMsgRemoveChanged = 11,
    kMsgAddReadOnly = 12,
    kMsgMissing = 13,
    kMsgChanged = 14,
    kMsgReadOnly = 15,
    kMsgCriticalVerify = 16,
    kMsgCriticalBuild = 17,
    kMsgBuildSkipped = 18,
    kMsgMoreInfo = 19,
    kMsgCriticalDetail = 20,
};
