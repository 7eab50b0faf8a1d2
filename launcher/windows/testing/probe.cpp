// A small Win32 probe for the launcher's tests under wine: finds top-level windows by title,
// reads back and closes message boxes, minimises windows and reports their state.
//
//   z47_probe find <title part> [timeout ms]    exit 0 when a window shows up in time
//   z47_probe box <caption> [timeout ms]        prints the box's class, caption and text,
//                                               then presses OK
//   z47_probe minimise <title part>             minimises the window, waits until it is
//   z47_probe state <title part>                prints iconic=, visible=, foreground=
//   z47_probe close <title part>                asks the window to close
//   z47_probe click <title part> <x> <y>        brings the window forward and clicks the left
//                                               mouse button at (x, y) of its client area,
//                                               as a user's mouse would
//
// Output is UTF-8.  Exit codes: 0 done, 1 no such window, 2 usage.
#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

struct Search {
    const wchar_t* title;
    bool exact;
    HWND found;
};

std::wstring window_text(HWND window)
{
    wchar_t text[2048] = L"";
    GetWindowTextW(window, text, 2048);
    return text;
}

BOOL CALLBACK visit(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<Search*>(parameter);
    std::wstring title = window_text(window);
    bool match = search.exact ? title == search.title : title.find(search.title) != std::wstring::npos;
    if (!match || !IsWindowVisible(window))
        return TRUE;
    search.found = window;
    return FALSE;
}

HWND find_window(const wchar_t* title, bool exact, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        Search search{title, exact, nullptr};
        EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
        if (search.found || GetTickCount() - start >= timeout_ms)
            return search.found;
        Sleep(50);
    }
}

void print(const std::wstring& text)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(),
                        length, nullptr, nullptr);
    bytes += "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

BOOL CALLBACK print_static_text(HWND child, LPARAM)
{
    wchar_t class_name[64] = L"";
    GetClassNameW(child, class_name, 64);
    std::wstring text = window_text(child);
    if (_wcsicmp(class_name, L"Static") == 0 && !text.empty())
        print(text);
    return TRUE;
}

std::wstring state_of(HWND window)
{
    return L"iconic=" + std::to_wstring(IsIconic(window) ? 1 : 0) +
           L" visible=" + std::to_wstring(IsWindowVisible(window) ? 1 : 0) +
           L" foreground=" + std::to_wstring(GetForegroundWindow() == window ? 1 : 0);
}

// Real input through the system's queue, so the program sees a press and a release where the
// pointer is, with nothing posted into its own message queue by us.
void click(HWND window, long x, long y)
{
    SetForegroundWindow(window);
    POINT point{x, y};
    ClientToScreen(window, &point);
    SetCursorPos(point.x, point.y);
    Sleep(100);
    INPUT inputs[2]{};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &inputs[0], sizeof(INPUT));
    Sleep(50);
    SendInput(1, &inputs[1], sizeof(INPUT));
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    std::wstring command = argv[1];
    const wchar_t* title = argv[2];
    DWORD timeout = argc > 3 ? static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)) : 0;

    if (command == L"find")
        return find_window(title, false, timeout) ? 0 : 1;

    if (command == L"box") {
        HWND box = find_window(title, true, timeout);
        if (!box)
            return 1;
        wchar_t class_name[64] = L"";
        GetClassNameW(box, class_name, 64);
        print(class_name);
        print(window_text(box));
        EnumChildWindows(box, print_static_text, 0);
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }

    HWND window = find_window(title, false, timeout);
    if (!window)
        return 1;
    if (command == L"minimise") {
        ShowWindow(window, SW_MINIMIZE);
        for (int i = 0; i < 100 && !IsIconic(window); ++i)
            Sleep(20);
        print(state_of(window));
        return 0;
    }
    if (command == L"state") {
        print(state_of(window));
        return 0;
    }
    if (command == L"close") {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (command == L"click" && argc > 4) {
        click(window, std::wcstol(argv[3], nullptr, 10), std::wcstol(argv[4], nullptr, 10));
        return 0;
    }
    return 2;
}
