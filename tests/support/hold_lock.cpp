// hold_lock FOLDER FLAG: holds the one-apply lock of FOLDER (os::FolderLock) while the file
// FLAG exists, so that end-to-end tests can start an apply while another one "runs".
// Prints "held" once it holds the lock; exits 3 when the folder is held already.
#include <chrono>
#include <cstdio>
#include <thread>

#include "io/os.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: hold_lock FOLDER FLAG\n");
        return 2;
    }
    os::FolderLock lock;
    const os::FolderLock::Result result = lock.Acquire(argv[1]);
    if (result != os::FolderLock::kHeld) {
        std::printf("%s\n", result == os::FolderLock::kBusy ? "busy" : "cannot open the folder");
        return 3;
    }
    std::printf("held\n");
    std::fflush(stdout);
    while (os::GetAttributes(argv[2]) != os::kInvalidAttributes) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
