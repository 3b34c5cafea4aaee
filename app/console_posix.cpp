#include "console.h"

namespace blinkwerk {

void attachParentConsole()
{
}

} // namespace blinkwerk
