// Starting at login through the login-start agent.
#include "app/velmora.h"

namespace velmora {

void Velmora::configureLoginStart() {}
void Velmora::toggleLoginStart() {}
void Velmora::updateLoginStatus() {}

}  // namespace velmora
