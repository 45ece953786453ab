#pragma once

#include <QString>

// Which scene-graph renderer the windows use. Qt Quick's default redraws the whole window through
// OpenGL on every frame; on a machine without a graphics processor, Mesa emulates OpenGL on the
// processor, which takes about 50 ms to set up and a fifth of a core while a progress bar moves.
// Qt Quick's software renderer redraws only what changed, so it is chosen there.
namespace RendererChoice {

// True when OpenGL could only be emulated: Mesa is told to, or no graphics device is present
// under deviceFolder (a DRM render node, or NVIDIA's own device).
bool openGlIsEmulated(const QString &deviceFolder = QStringLiteral("/dev"));

// Call before the first window. A renderer the user chose through Qt's variables is kept.
void apply();

} // namespace RendererChoice
