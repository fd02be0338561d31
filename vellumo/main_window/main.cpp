// Start-up of the desktop program.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    MessageBoxW(nullptr, L"Vellumo converts RealMedia audio to MP3 or WAV.\nThe main window is not built yet.",
                L"Vellumo", MB_OK | MB_ICONINFORMATION);
    return 0;
}
