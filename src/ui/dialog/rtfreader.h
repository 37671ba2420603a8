#pragma once
// A compact reader of Rich Text Format into a QTextDocument: groups, control words and
// symbols, paragraphs and line breaks, bold/italic/underline/strike-out, font size, the colour
// table, paragraph alignment, 8-bit text in the document's or the font's code page (CP932
// double-byte pairs included), \uN with \ucN. Destinations the view does not show (font and
// colour tables, style sheet, document information, pictures, \* groups, ...) are skipped;
// unknown control words are ignored. Malformed input never crashes: reading stops at the end
// of the data and what was read stays in the document.
#include <QByteArrayView>

class QTextDocument;

class CRtfReader {
public:
    // Deepest group nesting read; a deeper group ends the reading with an error.
    static constexpr int kMaxDepth = 200;

    // Appends the content of `rtf` to `document`. Returns false when the data does not begin
    // as an RTF document ("{\rtf") or nests deeper than kMaxDepth; in the second case what was
    // read before stays in the document.
    static bool Read(QByteArrayView rtf, QTextDocument* document);
};
