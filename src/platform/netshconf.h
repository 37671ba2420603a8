#pragma once
// The settings of the Linux netsh stand-in: which store it uses and whether it sets the kernel's
// address labels. One reader for the stand-in itself and for the program, so both agree.
#include <QString>

namespace platform {

struct CNetshConf {
    bool systemStore = false;   // the machine's own table (/etc/gai.conf and the kernel's labels)
    bool kernelLabels = true;   // the system store also sets the kernel's address labels
};

// The store from NETSH_STORE, else from the last "store=" line of "netsh.conf" in `programDir`
// (a folder ending in "/"), else the file store; a word other than "system" (any case) gives the
// file store. Kernel labels are off when NETSH_KERNEL_LABELS says "0", "no", "off" or "false"
// (any case), or, while the variable is unset, when netsh.conf's last "kernel_labels=" line does.
CNetshConf ReadNetshConf(const QString& programDir);

// The store's word as ReadNetshConf reads it, trimmed; empty when none is given. netsh notes a
// word other than "file" or "system" on standard error.
QString NetshStoreWord(const QString& programDir);

}  // namespace platform
