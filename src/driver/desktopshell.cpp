// The closing document of an elevated run, opened by the desktop shell's own process: the
// program that opens it then runs as the signed-in user, with the shell's rights, never
// with the uninstaller's. Where no desktop shell runs on this desktop (a service, session
// 0), nothing is opened.
#include "driver.h"
#include <exdisp.h>
#include <servprov.h>
#include <shlobj.h>

static const CLSID shellWindowsClass = {
    0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
static const IID shellWindowsInterface = {
    0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
static const IID serviceProviderInterface = {
    0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
static const GUID topLevelBrowserService = {
    0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
static const IID shellBrowserInterface = {
    0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
static const IID dispatchInterface = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#define DESKTOP_CLASS 8   // SWC_DESKTOP: the shell's desktop among its windows
#define NEED_DISPATCH 1   // SWFO_NEEDDISPATCH
#define VIEW_BACKGROUND 0 // SVGIO_BACKGROUND: the view itself, not an item in it

static void Release(IUnknown *object) {
    if (object)
        object->Release();
}

// A service runs in a window station nobody sees; the one on the user's screen is visible.
// Window stations came with the NT family: their functions are looked up.
static int OnVisibleWindowStation() {
    typedef HWINSTA(WINAPI * GetStationProc)();
    typedef BOOL(WINAPI * GetInformationProc)(HANDLE, int, void *, DWORD, DWORD *);
    GetStationProc station =
        (GetStationProc)(void (*)())FindSystemFunction("user32.dll", "GetProcessWindowStation");
    GetInformationProc information = (GetInformationProc)(void (*)())FindSystemFunction(
        "user32.dll", "GetUserObjectInformationA");
    USEROBJECTFLAGS flags;
    DWORD size;
    return station && information &&
           information(station(), UOI_FLAGS, &flags, sizeof flags, &size) &&
           (flags.dwFlags & WSF_VISIBLE);
}

// The shell is asked for its desktop's window and that window's browser, from which the
// view of the desktop leads to the shell's application object. The class is taken only
// from a running process (never a library loaded into this one), and the desktop window it
// names must be a window of this desktop that another process owns: a shell of another
// session or desktop does not count.
int OpenThroughDesktopShell(const char *target) {
    if (!OnVisibleWindowStation())
        return DESKTOP_NO_SHELL;
    IShellWindows *windows = 0;
    IDispatch *desktop = 0;
    IServiceProvider *services = 0;
    IShellBrowser *browser = 0;
    IShellView *view = 0;
    IDispatch *background = 0;
    VARIANT nowhere;
    FillBytes(&nowhere, 0, sizeof nowhere); // VT_EMPTY: the desktop class needs no location
    long window = 0;
    DWORD owner = 0;
    int result = DESKTOP_NO_SHELL;
    if (SUCCEEDED(CoCreateInstance(shellWindowsClass, 0, CLSCTX_LOCAL_SERVER, shellWindowsInterface,
                                   (void **)&windows)) &&
        windows->FindWindowSW(&nowhere, &nowhere, DESKTOP_CLASS, &window, NEED_DISPATCH,
                              &desktop) == S_OK &&
        desktop && GetWindowThreadProcessId((HWND)(LONG_PTR)window, &owner) &&
        owner != GetCurrentProcessId()) {
        result = DESKTOP_REFUSED;
        if (SUCCEEDED(desktop->QueryInterface(serviceProviderInterface, (void **)&services)) &&
            SUCCEEDED(services->QueryService(topLevelBrowserService, shellBrowserInterface,
                                             (void **)&browser)) &&
            SUCCEEDED(browser->QueryActiveShellView(&view)) && view &&
            SUCCEEDED(
                view->GetItemObject(VIEW_BACKGROUND, dispatchInterface, (void **)&background)) &&
            background && SysShellOpenVia(background, target))
            result = DESKTOP_OPENED;
    }
    Release(background);
    Release(view);
    Release(browser);
    Release(services);
    Release(desktop);
    Release(windows);
    return result;
}
