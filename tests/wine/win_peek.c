/* A helper of the Wine end-to-end tests, run in the same prefix as the program under
 * test: reads what the visible top-level windows with a given caption show, or moves one.
 *
 *   win_peek texts CAPTION   for each such window (topmost first) a line
 *                              "window L T R B CL CT CR CB ENABLED"  (window and client area
 *                                                             on the screen, right and bottom
 *                                                             excluded; 1 when enabled)
 *                            then one line per control inside it
 *                              "ID CLASS ENABLED VISIBLE L T R B TEXT"  (client area on the
 *                                                             screen; CR LF and LF as \n)
 *                            fields separated by tabs
 *   win_peek cover CAPTION   takes the caption bar and frame off the first such window and
 *                            makes it exactly as large as the screen, so that its client
 *                            area covers the whole screen (a window with a caption cannot
 *                            be made that tall)
 *
 * Exit code 0 when a window with the caption was found, 1 when none, 2 on a usage error. */
#include <windows.h>
#include <stdio.h>
#include <string.h>

static const char* wanted;
static HWND first;

static void print_text(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p == '\r' && p[1] == '\n') continue;
        if (*p == '\n') fputs("\\n", stdout);
        else if (*p == '\t') fputs("\\t", stdout);
        else putchar(*p);
    }
}

static void client_on_screen(HWND window, RECT* rect) {
    POINT origin = {0, 0};
    GetClientRect(window, rect);
    ClientToScreen(window, &origin);
    OffsetRect(rect, origin.x, origin.y);
}

static BOOL CALLBACK print_control(HWND control, LPARAM unused) {
    char class_name[64] = "";
    char text[8192] = "";
    DWORD_PTR got = 0;
    RECT rect;
    (void)unused;
    GetClassNameA(control, class_name, sizeof class_name);
    if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 3000, &got))
        text[0] = '\0';
    client_on_screen(control, &rect);
    printf("%d\t%s\t%d\t%d\t%ld\t%ld\t%ld\t%ld\t", GetDlgCtrlID(control), class_name,
           IsWindowEnabled(control) ? 1 : 0, IsWindowVisible(control) ? 1 : 0, rect.left, rect.top, rect.right,
           rect.bottom);
    print_text(text);
    putchar('\n');
    return TRUE;
}

static BOOL CALLBACK visit(HWND window, LPARAM print) {
    char caption[1024] = "";
    RECT outer, client;
    if (!IsWindowVisible(window)) return TRUE;
    GetWindowTextA(window, caption, sizeof caption);
    if (strcmp(caption, wanted) != 0) return TRUE;
    if (!first) first = window;
    if (!print) return FALSE;
    GetWindowRect(window, &outer);
    client_on_screen(window, &client);
    printf("window\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%d\n", outer.left, outer.top, outer.right,
           outer.bottom, client.left, client.top, client.right, client.bottom, IsWindowEnabled(window) ? 1 : 0);
    EnumChildWindows(window, print_control, 0);
    return TRUE;
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "texts") != 0 && strcmp(argv[1], "cover") != 0)) {
        fprintf(stderr, "usage: win_peek texts|cover CAPTION\n");
        return 2;
    }
    wanted = argv[2];
    if (strcmp(argv[1], "texts") == 0) {
        EnumWindows(visit, 1);
    } else {
        EnumWindows(visit, 0);
        if (first) {
            LONG style = GetWindowLongA(first, GWL_STYLE);
            style &= ~(WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
            SetWindowLongA(first, GWL_STYLE, style);
            SetWindowPos(first, NULL, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        }
    }
    fflush(stdout);
    return first ? 0 : 1;
}
