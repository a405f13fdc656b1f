// Messages the page posts to the application.
#include "app/velmora.h"

namespace velmora {

void Velmora::didReceiveScriptMessage(const platform::ScriptMessage&) {}

}  // namespace velmora
