#pragma once

#include <QByteArray>

// Which scene graph the player window uses. A software GL rasteriser runs Qt Quick's
// OpenGL renderer on the CPU at a high cost; Qt Quick's own software renderer paints
// the same scenes for a fraction of it. NOVALINE_RENDERER=gl|software forces a path.
namespace RenderBackend {

// True for the GL_RENDERER strings of Mesa's and other software rasterisers.
bool isSoftwareRasterizer(const QByteArray &glRenderer);

// Decides once, before the first Qt Quick window exists; later calls do nothing.
// Returns whether the software scene graph was chosen.
bool choose();

} // namespace RenderBackend
