/* Helper program of the launcher's Wine tests (a GUI program without a window, so that
   nothing opens a console):
     launcher_probe mutex      exit 0 when the mutex "UnrealIsRunning" exists, else 1
     launcher_probe drive-type X:
                               exits with GetDriveTypeA("X:\\") (5: a CD-ROM drive)
     launcher_probe            (as "ambrel32.exe") stands in for the applicator: writes
                               "started.txt" in the current folder saying whether the mutex
                               is held, then waits up to 60 s for "release.txt" to appear. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static int MutexExists(void) {
    HANDLE h = OpenMutexA(SYNCHRONIZE, FALSE, "UnrealIsRunning");
    if (!h) return 0;
    CloseHandle(h);
    return 1;
}

static int StandIn(void) {
    FILE* f = fopen("started.txt", "w");
    int waited;
    if (!f) return 2;
    fprintf(f, "mutex %s\n", MutexExists() ? "held" : "absent");
    fclose(f);
    for (waited = 0; waited < 600; ++waited) {
        if (GetFileAttributesA("release.txt") != INVALID_FILE_ATTRIBUTES) return 0;
        Sleep(100);
    }
    return 3;
}

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "mutex") == 0) return MutexExists() ? 0 : 1;
    if (argc >= 3 && strcmp(argv[1], "drive-type") == 0) {
        char root[4] = {argv[2][0], ':', '\\', 0};
        return (int)GetDriveTypeA(root);
    }
    return StandIn();
}
