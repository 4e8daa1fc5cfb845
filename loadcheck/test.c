/* Test: the load-check library. When a process loads it, it tells the user
   that the load succeeded, and does nothing else. It exports nothing and
   knows nothing of the add-in library. */
#include <windows.h>

/* "Загрузка test.dll прошла успешно", in UTF-16 and shown through the wide
   call: the ANSI call would read Windows-1251 bytes in whatever code page the
   machine uses, and outside 1251 the user would see garbage. The escapes keep
   the text independent of the encoding the compiler assumes for this file. */
static const wchar_t load_text[] =
    L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0430 test.dll "
    L"\u043f\u0440\u043e\u0448\u043b\u0430 \u0443\u0441\u043f\u0435\u0448\u043d\u043e";
static const wchar_t load_caption[] = L"Test";

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        /* Modal and ownerless: the loading thread waits here until the user
           closes the box. Which button closed it, or whether the box could be
           shown at all, does not matter: the load has succeeded either way. */
        MessageBoxW(NULL, load_text, load_caption, MB_OK | MB_ICONINFORMATION);
    }
    return TRUE;
}
