// The message the web process extension sends to the UI process for every postMessage of
// the page: its name, and the parameters in this GVariant form.
#pragma once

namespace gtk::bridge {

inline constexpr const char* kMessageName = "velmora.script-message";
// (handler name, body as JSON text, sent by the main frame, host of the frame's origin)
inline constexpr const char* kParametersType = "(ssbs)";

}  // namespace gtk::bridge
