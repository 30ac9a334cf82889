#pragma once

// Registers the QML module "VLCQt" 1.1: VlcPlayer, VlcVideoOutput, the track model
// type and the uncreatable Vlc namespace with its enumerations. Call once from the
// place that registers all QML types, before loading scenes; later calls do nothing.
namespace VlcQml {
void registerTypes();
// Starts libVLC in the background while the window and its scenes load; the
// first player then finds it ready. Reads VLC_ARGS, so set that before.
void prepare();
}

inline void registerVlcQtQmlTypes() { VlcQml::registerTypes(); }
