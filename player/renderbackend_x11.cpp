#include "renderbackend.h"

#include <X11/Xlib.h>

bool RenderBackend::displayDrawsGlOnCpu()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    int opcode = 0;
    int event = 0;
    int error = 0;
    // Mesa renders on the GPU only through DRI3 or DRI2; NVIDIA's driver brings its own GLX.
    bool direct = false;
    for (const char *name : {"DRI3", "DRI2", "NV-GLX"})
        direct = direct || XQueryExtension(display, name, &opcode, &event, &error);
    XCloseDisplay(display);
    return !direct;
}
