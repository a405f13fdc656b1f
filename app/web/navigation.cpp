// Navigation policy, new-window requests and the navigation menu.
#include "app/velmora.h"

namespace velmora {

platform::NavigationPolicy Velmora::decidePolicyForNavigationAction(const platform::NavigationAction&) {
    return platform::NavigationPolicy::Allow;
}

platform::ResponsePolicy Velmora::decidePolicyForNavigationResponse(const platform::NavigationResponse&) {
    return platform::ResponsePolicy::Allow;
}

void Velmora::navigationActionDidBecomeDownload(platform::Download&) {}
void Velmora::navigationResponseDidBecomeDownload(platform::Download&) {}
void Velmora::requestNewWebView(const platform::NavigationAction&) {}
void Velmora::changeSpace() {}
void Velmora::reload() {}
void Velmora::safari() {}

}  // namespace velmora
