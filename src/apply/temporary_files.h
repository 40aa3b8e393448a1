// The temporary files of one apply: the private temporary folder "__QXUPD_" inside the
// target folder and, per entry, the new version built into it, held open from its creation
// through its verification to its move into place, so that what is moved is what was
// verified.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/os.h"
#include "io/stream.h"
#include "package/package.h"

// Composes the path of entry `index`'s temporary file ("__QXUPD_\N%05d.TMP" in the target
// folder) into out; false, with out empty, when it does not fit.
bool TemporaryFileName(const UpgradePackage& package, int index, char* out, size_t size);

class TemporaryFiles {
public:
    explicit TemporaryFiles(size_t entries);
    ~TemporaryFiles();
    TemporaryFiles(const TemporaryFiles&) = delete;
    TemporaryFiles& operator=(const TemporaryFiles&) = delete;

    // Creates the temporary folder `path` private to the running user, or takes the one an
    // interrupted run left there. False, with *why set, when it cannot be used.
    bool Open(const char* path, std::string* why);
    // Creates the temporary file of entry `index` afresh and lends its handle to `stream`
    // (for reading and writing). False when it cannot be created.
    bool Create(size_t index, TCVLFStream* stream);
    // Takes the handle back from `stream` once the file is built and verified. Handles are
    // held while the system allows that many open files; beyond that the file is closed,
    // and opened again at the move only if it is still the very file that was verified.
    void Keep(size_t index, TCVLFStream* stream);
    // Closes and deletes the temporary file of entry `index`.
    void Delete(size_t index);
    // Makes every kept file durable before the commit replaces the first old file, in one
    // wait for the whole file system where the system allows it. False where it does not,
    // or that failed: each move then syncs its own file first, as MoveInto does.
    bool SyncAll();
    // Moves entry `index`'s file into the place of `destination`, which must still be as
    // `expected` (os::PrivateFolder::MoveInto). Unless moved, the file stays in the
    // temporary folder; kNotHeldFile says that what stays there is not the verified file.
    os::PrivateFolder::MoveResult MoveInto(size_t index, const char* destination, const os::FileState& expected);
    // Deletes every temporary file still there except those of `kept` entries, then the
    // folder when it is empty.
    void CleanUp(const std::vector<bool>& kept);

    // "N%05d.TMP": the name of entry `index`'s file in the folder.
    static std::string Name(size_t index);

private:
    struct Held {
        os::FileHandle handle = os::kInvalidHandle;
        bool made = false;    // this run created the file, and it is still in the folder
        bool closed = false;  // verified and closed for lack of handles: `state` tells it
        os::FileState state;
    };
    os::PrivateFolder folder_;
    std::vector<Held> files_;
    size_t open_ = 0;    // handles held now
    size_t budget_ = 0;  // handles that may be held
    bool leftovers_ = false;  // the folder was there before: delete every entry's name
    bool synced_ = false;     // SyncAll made every kept file durable
};
