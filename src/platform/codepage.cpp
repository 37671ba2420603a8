#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace platform {
namespace {

constexpr const char* kCodePageName = "windows-31j";

// Opening a converter is costly compared with converting one log line; each thread keeps one
// of each and resets it before every use.
QStringDecoder& Decoder() {
    thread_local QStringDecoder decoder(kCodePageName, QStringDecoder::Flag::Stateless);
    decoder.resetState();
    return decoder;
}

QStringEncoder& Encoder() {
    thread_local QStringEncoder encoder(kCodePageName, QStringEncoder::Flag::Stateless);
    encoder.resetState();
    return encoder;
}

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

bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Slow path for a buffer with invalid bytes. The converter marks those with U+001A, which is
// also a real control character; here each character is decoded on its own so that only what
// is really invalid becomes U+FFFD (one per bad byte, or per unassigned pair), and a lead byte
// followed by no valid trail byte does not swallow the byte after it.
QString DecodeByCharacter(QByteArrayView bytes) {
    QStringDecoder& decoder = Decoder();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype n = bytes.size();
    QString out;
    out.reserve(n);
    for (qsizetype i = 0; i < n;) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out += QChar(b);
            ++i;
            continue;
        }
        qsizetype length = 1;
        if (IsLeadByte(b)) {
            if (i + 1 >= n || !IsTrailByte(p[i + 1])) {
                out += QChar::ReplacementCharacter;
                ++i;
                continue;
            }
            length = 2;
        }
        const QString one = decoder.decode(bytes.sliced(i, length));
        if (one.size() == 1 && one[0] != QChar(0x1A) && one[0] != QChar::ReplacementCharacter)
            out += one;
        else
            out += QChar::ReplacementCharacter;
        i += length;
    }
    return out;
}

// The converter follows IBM's table for three control bytes (0x1A, 0x1C and 0x7F are rotated
// among U+001A, U+001C and U+007F); Windows maps them to themselves. These put them back.
bool HasRotatedControl(QByteArrayView bytes) {
    for (char c : bytes)
        if (c == 0x1A || c == 0x1C || c == 0x7F) return true;
    return false;
}

void UnrotateDecoded(QString& text) {
    for (QChar& c : text) {
        switch (c.unicode()) {
            case 0x1C: c = QChar(0x1A); break;
            case 0x7F: c = QChar(0x1C); break;
            case 0x1A: c = QChar(0x7F); break;
            default: break;
        }
    }
}

// Maps text so that the converter writes U+001A, U+001C and U+007F as the bytes of the same value.
QString RotateForEncoding(QStringView text) {
    QString out = text.toString();
    for (QChar& c : out) {
        switch (c.unicode()) {
            case 0x1A: c = QChar(0x1C); break;
            case 0x1C: c = QChar(0x7F); break;
            case 0x7F: c = QChar(0x1A); break;
            default: break;
        }
    }
    return out;
}

bool HasControlToRotate(QStringView text) {
    for (QChar c : text)
        if (c.unicode() == 0x1A || c.unicode() == 0x1C || c.unicode() == 0x7F) return true;
    return false;
}

}  // namespace

QString FromCp932(QByteArrayView bytes) {
    if (bytes.isEmpty()) return {};
    QStringDecoder& decoder = Decoder();
    if (!decoder.isValid()) return QString::fromLatin1(bytes);
    QString text = decoder.decode(bytes);
    if (!decoder.hasError()) {
        if (HasRotatedControl(bytes)) UnrotateDecoded(text);
        return text;
    }
    return DecodeByCharacter(bytes);
}

QByteArray ToCp932(QStringView text) {
    if (text.isEmpty()) return {};
    QStringEncoder& encoder = Encoder();
    if (!encoder.isValid()) return text.toLatin1();
    QByteArray out;
    if (HasControlToRotate(text))
        out = encoder.encode(RotateForEncoding(text));
    else
        out = encoder.encode(text);
    if (encoder.hasError() || out.contains("\xFC\xFC")) out = ReplaceSubstitutions(out);
    return out;
}

}  // namespace platform
