// Posting native notifications.
#include "app/velmora.h"

namespace velmora {

void Velmora::deliverNativeNotice(const std::string&, const std::string&, const std::string&, const std::string&,
                                  bool) {}
void Velmora::testNativeNotice() {}

}  // namespace velmora
