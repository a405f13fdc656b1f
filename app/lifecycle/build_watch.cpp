// Watching for a newer build installed over the running copy, and the updater's calls.
#include "app/velmora.h"

namespace velmora {

void Velmora::checkInstalledBuild() {}
void Velmora::updaterWillInstallUpdate() {}
void Velmora::updaterWillRelaunchApplication() {}

}  // namespace velmora
