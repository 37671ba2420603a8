#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {
namespace {

constexpr const char* kCodePageName = "windows-31j";

bool IsLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// The converter marks a character without a CP932 form with the pair FC FC, which is not a
// valid CP932 character. Windows writes "?" instead; do the same. Walking lead and trail bytes
// keeps the scan aligned on character boundaries.
QByteArray ReplaceSubstitutions(const QByteArray& in) {
    QByteArray out;
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.constData());
    const qsizetype n = in.size();
    for (qsizetype i = 0; i < n;) {
        if (IsLeadByte(p[i]) && i + 1 < n) {
            if (p[i] == 0xFC && p[i + 1] == 0xFC) {
                out += '?';
            } else {
                out += char(p[i]);
                out += char(p[i + 1]);
            }
            i += 2;
        } else {
            out += char(p[i]);
            ++i;
        }
    }
    return out;
}

}  // namespace

QString FromCp932(QByteArrayView bytes) {
    if (bytes.isEmpty()) return {};
    QStringDecoder decoder(kCodePageName, QStringDecoder::Flag::Stateless);
    if (!decoder.isValid()) return QString::fromLatin1(bytes);
    // A lead byte cut off at the very end would be swallowed silently; keep it visible.
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    qsizetype i = 0;
    bool danglingLead = false;
    while (i < bytes.size()) {
        if (IsLeadByte(p[i])) {
            if (i + 1 >= bytes.size()) {
                danglingLead = true;
                break;
            }
            i += 2;
        } else {
            ++i;
        }
    }
    if (!danglingLead) return decoder.decode(bytes);
    QString text = decoder.decode(bytes.first(bytes.size() - 1));
    text += QChar::ReplacementCharacter;
    return text;
}

QByteArray ToCp932(QStringView text) {
    if (text.isEmpty()) return {};
    QStringEncoder encoder(kCodePageName, QStringEncoder::Flag::Stateless);
    if (!encoder.isValid()) return text.toLatin1();
    QByteArray out = encoder.encode(text);
    if (encoder.hasError() || out.contains("\xFC\xFC")) out = ReplaceSubstitutions(out);
    return out;
}

}  // namespace platform
