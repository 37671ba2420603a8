#pragma once
// Half-width character classification, as the Japanese system locale classifies characters:
// ASCII, Latin-1 and the half-width katakana and symbol forms are half-width; everything else
// (full-width forms, kanji, kana) is not.
#include <QChar>
#include <QList>
#include <QStringView>

namespace platform {

bool IsHalfWidth(char32_t codePoint);

// True when every character of the text is half-width (an empty text is).
bool IsAllHalfWidth(QStringView text);

}  // namespace platform
