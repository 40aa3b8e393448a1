/* Prints one known line: the test command runs it under the emulator to learn whether
   this host can run the Windows programs of the build. */
#include <stdio.h>

int main(void) {
    printf("ambrel wine probe: %d-bit\n", (int)(sizeof(void*) * 8));
    return 0;
}
