// The RTF reader's output: 8-bit text decoded in the current font's code page, character and
// paragraph formats, and the text inserted into the document.
#include "platform/codepage.h"
#include "ui/dialog/rtfreader_impl.h"

namespace rtfreader {

int Reader::CurrentCodePage() const {
    const int font = m_state.font >= 0 ? m_state.font : m_defaultFont;
    const int cp = m_fontCodePage.value(font, 0);
    return cp > 0 ? cp : m_docCodePage;
}

QString Reader::Decode(const QByteArray& bytes, int codePage) {
    if (codePage == 932) return platform::FromCp932(bytes);
    if (codePage == 65001) return QString::fromUtf8(bytes);
    if (codePage == kSymbolCodePage) {
        // As Windows does for symbol fonts: a printable byte becomes the private-use character
        // U+F0hh, which symbol fonts map to their glyphs.
        QString text;
        text.reserve(bytes.size());
        for (const char b : bytes) {
            const auto u = static_cast<unsigned char>(b);
            text += QChar(u >= 0x20 ? char16_t(0xF000 + u) : char16_t(u));
        }
        return text;
    }
    auto& decoder = m_decoders[codePage];
    if (!decoder) {
        decoder = std::make_unique<QStringDecoder>(
            QStringLiteral("windows-%1").arg(codePage).toLatin1().constData(),
            QStringDecoder::Flag::Stateless);
        if (!decoder->isValid())
            decoder = std::make_unique<QStringDecoder>(
                QStringLiteral("cp%1").arg(codePage).toLatin1().constData(),
                QStringDecoder::Flag::Stateless);
    }
    if (!decoder->isValid()) return QString::fromLatin1(bytes);
    return decoder->decode(bytes);
}

void Reader::AddByte(char byte) {
    if (m_state.dest == Dest::ColorTable) {
        if (byte == ';') {
            m_colors.append(m_red < 0 && m_green < 0 && m_blue < 0
                                ? QColor()
                                : QColor(qMax(0, m_red), qMax(0, m_green), qMax(0, m_blue)));
            m_red = m_green = m_blue = -1;
        }
        return;
    }
    if (m_state.dest != Dest::Text) return;
    m_bytes += byte;
}

void Reader::AddChar(QChar c) {
    if (m_state.dest != Dest::Text) return;
    FlushBytes();
    m_text += c;
}

void Reader::FlushBytes() {
    if (m_bytes.isEmpty()) return;
    m_text += Decode(m_bytes, CurrentCodePage());
    m_bytes.clear();
}

QTextCharFormat Reader::CharFormat() const {
    QTextCharFormat f;
    f.setFontWeight(m_state.bold ? QFont::Bold : QFont::Normal);
    f.setFontItalic(m_state.italic);
    f.setFontUnderline(m_state.underline);
    f.setFontStrikeOut(m_state.strike);
    if (m_state.sizeHalfPoints > 0) f.setFontPointSize(m_state.sizeHalfPoints / 2.0);
    if (m_state.color >= 0 && m_state.color < m_colors.size() && m_colors[m_state.color].isValid())
        f.setForeground(m_colors[m_state.color]);
    return f;
}

void Reader::ApplyPara() {
    if (m_blockPara == m_state.para) return;
    // Twips to pixels at 96 dots per inch: 1440 twips per inch.
    const Para& p = m_state.para;
    m_blockFormat.setAlignment(p.align);
    m_blockFormat.setTopMargin(p.spaceBefore / 15.0);
    m_blockFormat.setBottomMargin(p.spaceAfter / 15.0);
    m_blockFormat.setLeftMargin(p.leftIndent / 15.0);
    m_blockFormat.setRightMargin(p.rightIndent / 15.0);
    m_blockFormat.setTextIndent(p.firstIndent / 15.0);
    // A hanging first line (list items: "1." tab text) tabs to the left indent. Tab positions
    // count from the start of the line, which the hanging indent moves left.
    QList<QTextOption::Tab> tabs;
    if (p.firstIndent < 0 && p.leftIndent > 0)
        tabs.append(QTextOption::Tab(qMin(-p.firstIndent, p.leftIndent) / 15.0, QTextOption::LeftTab));
    m_blockFormat.setTabPositions(tabs);
    m_cursor.setBlockFormat(m_blockFormat);
    m_blockPara = p;
}

void Reader::FlushText() {
    FlushBytes();
    if (m_text.isEmpty()) return;
    ApplyPara();
    m_cursor.insertText(m_text, CharFormat());
    m_text.clear();
}

void Reader::EndParagraph() {
    if (m_state.dest != Dest::Text) return;
    FlushText();
    ApplyPara();
    m_cursor.insertBlock(m_blockFormat, CharFormat());
}

}  // namespace rtfreader
