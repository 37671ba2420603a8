// The RTF reader on arbitrary bytes: it must neither crash nor read out of bounds, and a
// document it reads must come back as text.
#include <QGuiApplication>
#include <QTextDocument>
#include <cstdint>
#include <cstdlib>

#include "ui/dialog/rtfreader.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The license file is at most 100,000 bytes; larger inputs add nothing.
    if (size > 100000) return 0;
    QTextDocument document;
    const bool read = CRtfReader::Read(
        QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), &document);
    // Output never exceeds the input: every character comes from at least one byte.
    const QString text = document.toRawText();
    if (text.size() > static_cast<qsizetype>(size) + 1) std::abort();
    (void)read;
    return 0;
}
