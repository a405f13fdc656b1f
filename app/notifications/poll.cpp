// The periodic inbox poll through the page.
#include "app/velmora.h"

namespace velmora {

void Velmora::pollNativeNotifications() {}

}  // namespace velmora
