// Printing the page or a PDF the page sends.
#include "app/velmora.h"

namespace velmora {

void Velmora::print(const foundation::JsValue&) {}
void Velmora::printFinished(bool) {}

}  // namespace velmora
