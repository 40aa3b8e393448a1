/* A helper of the Wine end-to-end tests, run in the same prefix as the program under
 * test: reads what the visible top-level windows with a given caption show, or moves one.
 *
 *   win_peek texts CAPTION   for each such window (topmost first) a line
 *                              "window L T R B CL CT CR CB ENABLED MAXIMISED HANDLE"
 *                                                            (window and client area on the
 *                                                             screen, right and bottom
 *                                                             excluded; 1 when enabled, 1 when
 *                                                             maximised; the window handle in
 *                                                             hex, as Wine's traces print it)
 *                            then one line per control inside it
 *                              "ID CLASS ENABLED VISIBLE L T R B TEXT"  (client area on the
 *                                                             screen; a CR as \r, a LF as \n,
 *                                                             so CR LF reads \r\n)
 *                            fields separated by tabs. A static control's text is read from
 *                            the window itself, so that it is read also while the program's
 *                            thread is busy and answers no messages (the search notice);
 *                            other controls are asked with WM_GETTEXT.
 *   win_peek cover CAPTION   takes the caption bar and frame off the first such window and
 *                            makes it exactly as large as the screen, so that its client
 *                            area covers the whole screen (a window with a caption cannot
 *                            be made that tall)
 *   win_peek items CAPTION ID
 *                            the items of list box ID in the first such window, one line each:
 *                              "INDEX L T R B TEXT"  (the item's rectangle on the screen)
 *   win_peek move HANDLE X Y moves the window with that handle (hex, as "texts" prints it) so
 *                            that its top-left corner is at (X, Y) on the screen; its size
 *                            stays
 *   win_peek redraw HANDLE   invalidates all of that window and its controls, background
 *                            included, so that its program paints it again
 *
 * Exit code 0 when a window with the caption (or the handle, the list box) was found, 1 when
 * none, 2 on a usage error. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char* wanted;
static HWND first;

static void print_text(const char* text) {
    for (const char* p = text; *p; ++p) {
        if (*p == '\r') fputs("\\r", stdout);
        else if (*p == '\n') fputs("\\n", stdout);
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
    if (lstrcmpiA(class_name, "Static") == 0) {
        WCHAR wide[8192];
        int n = InternalGetWindowText(control, wide, sizeof wide / sizeof wide[0]);
        if (n <= 0 || !WideCharToMultiByte(CP_ACP, 0, wide, n + 1, text, sizeof text, NULL, NULL)) text[0] = '\0';
    } else if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 3000, &got)) {
        text[0] = '\0';
    }
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
    printf("window\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%ld\t%d\t%d\t%lx\n", outer.left, outer.top, outer.right,
           outer.bottom, client.left, client.top, client.right, client.bottom, IsWindowEnabled(window) ? 1 : 0,
           IsZoomed(window) ? 1 : 0, (unsigned long)(ULONG_PTR)window);
    EnumChildWindows(window, print_control, 0);
    return TRUE;
}

// Prints each item of list box `id` of the window `first`, with its rectangle on the screen.
static int print_items(int id) {
    HWND list = GetDlgItem(first, id);
    LRESULT count;
    if (!list) return 1;
    count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        WCHAR wide[1024] = L"";
        char text[1024] = "";
        RECT rect;
        POINT origin = {0, 0};
        // Asked in UTF-16: Wine hands the ANSI form of another process's item over cut short.
        if (SendMessageW(list, LB_GETTEXTLEN, (WPARAM)i, 0) >= (LRESULT)(sizeof wide / sizeof wide[0])) continue;
        SendMessageW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)wide);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
        if (SendMessageA(list, LB_GETITEMRECT, (WPARAM)i, (LPARAM)&rect) == LB_ERR) continue;
        ClientToScreen(list, &origin);
        OffsetRect(&rect, origin.x, origin.y);
        printf("%ld\t%ld\t%ld\t%ld\t%ld\t", (long)i, rect.left, rect.top, rect.right, rect.bottom);
        print_text(text);
        putchar('\n');
    }
    return 0;
}

static int usage(void) {
    fprintf(stderr, "usage: win_peek texts|cover CAPTION | items CAPTION ID | move HANDLE X Y | redraw HANDLE\n");
    return 2;
}

int main(int argc, char** argv) {
    int result = 0;
    if (argc < 3) return usage();
    if (strcmp(argv[1], "move") == 0) {
        // A window named by its handle (hex, as "texts" prints it) moves, its size unchanged.
        HWND window;
        if (argc != 5) return usage();
        window = (HWND)(ULONG_PTR)strtoul(argv[2], NULL, 16);
        if (!IsWindow(window)) return 1;
        return SetWindowPos(window, NULL, atoi(argv[3]), atoi(argv[4]), 0, 0,
                            SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE) ? 0 : 1;
    }
    if (strcmp(argv[1], "redraw") == 0) {
        HWND window;
        if (argc != 3) return usage();
        window = (HWND)(ULONG_PTR)strtoul(argv[2], NULL, 16);
        if (!IsWindow(window)) return 1;
        return RedrawWindow(window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN) ? 0 : 1;
    }
    wanted = argv[2];
    if (strcmp(argv[1], "texts") == 0 && argc == 3) {
        EnumWindows(visit, 1);
    } else if (strcmp(argv[1], "items") == 0 && argc == 4) {
        EnumWindows(visit, 0);
        if (first) result = print_items(atoi(argv[3]));
    } else if (strcmp(argv[1], "cover") == 0 && argc == 3) {
        EnumWindows(visit, 0);
        if (first) {
            LONG style = GetWindowLongA(first, GWL_STYLE);
            style &= ~(WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
            SetWindowLongA(first, GWL_STYLE, style);
            SetWindowPos(first, NULL, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                         SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
        }
    } else {
        return usage();
    }
    fflush(stdout);
    return first ? result : 1;
}
