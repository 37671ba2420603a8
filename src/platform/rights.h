#pragma once
// Whether this process holds the rights to change the system's address-selection table.

namespace platform {

// True when the process runs with administrator rights (effective user root), which writing
// /etc/gai.conf and setting the kernel's address labels need.
bool HasAdministratorRights();

}  // namespace platform
