// The first adapter's hardware address, checked against the system's own interface listing.
#include "platform/hwaddr.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <map>

namespace {

QByteArray ReadSys(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().trimmed();
}

TEST(HardwareAddress, FirstInterfaceByIndexWithANonZeroAddressSkippingLoopback) {
    const QString root = QStringLiteral("/sys/class/net/");
    std::map<int, QByteArray> byIndex;  // index -> address bytes
    for (const QString& name :
         QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const int index = ReadSys(root + name + QStringLiteral("/ifindex")).toInt();
        const unsigned flags = ReadSys(root + name + QStringLiteral("/flags")).toUInt(nullptr, 16);
        const QByteArray address =
            QByteArray::fromHex(ReadSys(root + name + QStringLiteral("/address")).replace(':', ""));
        if (flags & 0x8) continue;  // loopback
        if (address.isEmpty() || address.count('\0') == address.size()) continue;
        byIndex[index] = address.left(8);
    }
    platform::CHardwareAddress found;
    int error = 0;
    ASSERT_TRUE(platform::FirstAdapterHardwareAddress(&found, &error));
    if (byIndex.empty()) {
        EXPECT_EQ(found.length, 0);
        return;
    }
    const QByteArray expected = byIndex.begin()->second;
    ASSERT_EQ(found.length, expected.size());
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(found.bytes.data()), found.length).toHex(),
              expected.toHex());
}

}  // namespace
