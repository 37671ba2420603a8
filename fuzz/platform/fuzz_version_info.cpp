// The version-resource reader on arbitrary program-file bytes: every offset and size in the
// ELF headers is checked against the data before it is used.
#include <QBuffer>
#include <QByteArray>
#include <cstdint>
#include <cstdlib>

#include "platform/versioninfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return 0;
    QByteArray resource;
    if (verinfo::GetFileVersionInfo(buffer, &resource)) {
        if (resource.isEmpty() || resource.size() > verinfo::kMaxResourceBytes) std::abort();
        QString value;
        verinfo::VerQueryValue(resource, QStringLiteral("\\StringFileInfo\\041104b0\\FileVersion"), &value);
    }
    return 0;
}
