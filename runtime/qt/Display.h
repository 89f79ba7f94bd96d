#pragma once

namespace runtime {

// The window needs a screen that Qt can open, or Qt aborts: checks what Qt
// will try (QT_QPA_PLATFORM's plugins, else the X display and the Wayland
// socket the environment names) and throws RuntimeError 9 naming each try
// when none of them can be opened.
void requireDisplay();

} // namespace runtime
