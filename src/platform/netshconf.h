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
// (a folder ending in "/"), else the file store; an unknown word is noted on standard error and
// gives the file store. Kernel labels are off when NETSH_KERNEL_LABELS=0, or when netsh.conf's
// last "kernel_labels=" line says "no" and the variable does not say otherwise.
CNetshConf ReadNetshConf(const QString& programDir);

}  // namespace platform
