// The message the web process extension sends to the UI process for every postMessage of
// the page: its name, and the parameters in this GVariant form.
#pragma once

namespace gtk::bridge {

inline constexpr const char* kMessageName = "velmora.script-message";
// (handler name, body as JSON text, sent by the main frame, and the frame's origin: scheme,
// host, and port, -1 for the scheme's default)
inline constexpr const char* kParametersType = "(ssbssi)";

// The message the UI process sends every web process while no window has been shown for a
// while: each gives the memory its allocator has freed back to the system. No parameters.
inline constexpr const char* kReleaseMemoryName = "velmora.release-memory";

}  // namespace gtk::bridge
