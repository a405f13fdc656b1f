// The application's chime, played by this process when the notification server cannot.
#pragma once

#include <string>

namespace gtk {

// Starts playing the sound file at `path` once with GStreamer and returns at once; without an
// audio output, or when the file cannot be played, nothing is heard and nothing fails.
void playSoundFile(const std::string& path);

}  // namespace gtk
