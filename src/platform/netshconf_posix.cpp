#include "platform/netshconf.h"

#include <QByteArray>
#include <QList>

#include "platform/fileutil.h"

namespace platform {
namespace {

bool IsWord(const QByteArray& word, const char* expected) {
    return word.compare(expected, Qt::CaseInsensitive) == 0;
}

// The value of the last "<name>=" line of the file, trimmed; empty when there is none.
QByteArray LastSetting(const QByteArray& conf, const QByteArray& name) {
    QByteArray value;
    for (const QByteArray& line : conf.split('\n')) {
        const QByteArray setting = line.trimmed();
        if (setting.startsWith(name + '=')) value = setting.mid(name.size() + 1).trimmed();
    }
    return value;
}

QByteArray ReadConf(const QString& programDir) {
    QByteArray conf;
    if (!ReadWholeFile(programDir + QStringLiteral("netsh.conf"), &conf)) conf.clear();
    return conf;
}

}  // namespace

QString NetshStoreWord(const QString& programDir) {
    QByteArray store = qgetenv("NETSH_STORE").trimmed();
    if (store.isEmpty()) store = LastSetting(ReadConf(programDir), "store");
    return QString::fromLocal8Bit(store);
}

CNetshConf ReadNetshConf(const QString& programDir) {
    CNetshConf result;
    result.systemStore = NetshStoreWord(programDir).compare(u"system", Qt::CaseInsensitive) == 0;
    QByteArray labels = qgetenv("NETSH_KERNEL_LABELS").trimmed();
    if (labels.isEmpty()) labels = LastSetting(ReadConf(programDir), "kernel_labels");
    result.kernelLabels = !(IsWord(labels, "0") || IsWord(labels, "no") || IsWord(labels, "off") ||
                            IsWord(labels, "false"));
    return result;
}

}  // namespace platform
