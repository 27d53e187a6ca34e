#pragma once

namespace morlane {

class Window;

enum class SessionMode { Closed = 0, Open = 1 };

// The enabled-state arrangement of the session controls for a closed or an open session.
void SetSessionControls(Window& window, int mode);

}  // namespace morlane
