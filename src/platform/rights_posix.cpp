#include "platform/rights.h"

#include <unistd.h>

namespace platform {

bool HasAdministratorRights() { return ::geteuid() == 0; }

}  // namespace platform
