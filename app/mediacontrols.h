#pragma once

class Kernel;
class MprisService;

// Puts the player on the session bus for the desktop's media controls and listens to
// the media keys: connects the service to the window, its player and the guide. The
// service is a child of the kernel; it is off when the bus name is taken.
MprisService *attachMediaControls(Kernel *kernel, const char *desktopEntry);
