// The small program the sample installers and archives carry: it only says what it is.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    MessageBoxW(nullptr, L"这是 Quillbox 示例目录中的演示程序。", L"Quillbox 示例程序", MB_OK | MB_ICONINFORMATION);
    return 0;
}
