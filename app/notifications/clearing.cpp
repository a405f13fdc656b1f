// Removing notifications whose entries have been read.
#include "app/velmora.h"

namespace velmora {

void Velmora::clearSharedNotices(const std::vector<std::string>&, const std::string&) {}
void Velmora::clearReadMailNotice(const platform::ScriptMessage&) {}

}  // namespace velmora
