#pragma once

#include <QByteArray>

// Which scene graph the player window uses. A software GL rasteriser runs Qt Quick's
// OpenGL renderer on the CPU at a high cost; Qt Quick's own software renderer paints
// the same scenes for a fraction of it. NOVALINE_RENDERER=gl|software forces a path.
namespace RenderBackend {

// True for the GL_RENDERER strings of Mesa's and other software rasterisers.
bool isSoftwareRasterizer(const QByteArray &glRenderer);

// True when the window system can only have GL drawn on the CPU (an X server without
// direct rendering, as Xvfb), known without creating a GL context: a context loads the
// GL driver, tens of megabytes that the software scene graph never uses. Platform code.
bool displayDrawsGlOnCpu();

// Decides once, before the first Qt Quick window exists; later calls do nothing.
// Returns whether the software scene graph was chosen.
bool choose();

} // namespace RenderBackend
