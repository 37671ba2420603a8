// The help viewer's readers of help-file text on arbitrary bytes: the text decoding, the
// contents (sitemap) parser and the link resolver. Every topic of the contents tree must come
// out with bounded depth, and every resolved link must be an absolute path without "." or ".."
// parts.
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "help/chmfile.h"

namespace {

int Depth(const QList<CHelpTopic>& topics) {
    int deepest = 0;
    for (const CHelpTopic& t : topics) deepest = std::max(deepest, 1 + Depth(t.children));
    return deepest;
}

void CheckPath(const QString& path) {
    if (!path.startsWith(u'/')) std::abort();
    for (const QString& part : path.split(u'/'))
        if (part == QLatin1String(".") || part == QLatin1String("..")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = CChmFile::DecodeText(bytes);
    const QList<CHelpTopic> topics = CChmFile::ParseSitemap(text);
    if (Depth(topics) > 40) std::abort();
    const qsizetype cut = text.indexOf(u'\n');
    const QString base = cut >= 0 ? text.left(cut) : QStringLiteral("/index.html");
    CheckPath(CChmFile::ObjectPath(text.mid(cut + 1), base));
    return 0;
}
