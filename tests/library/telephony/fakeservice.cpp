// A stand-in service with two entry points, for watching the binding load,
// release and look up.
#include "tapi.h"

extern "C" __attribute__((visibility("default"))) LONG lineInitialize(
    HLINEAPP* app, HINSTANCE, LINECALLBACK, LPCSTR, DWORD* numDevs)
{
    *app = 77;
    *numDevs = 3;
    return 0;
}

extern "C" __attribute__((visibility("default"))) LONG lineShutdown(HLINEAPP app)
{
    return app == 77 ? 0 : LONG(LINEERR_INVALAPPHANDLE);
}
