#pragma once
// What the stand-in prints: the texts of a Japanese-language Windows, each message followed by
// an empty line as the Windows console command prints it.
#include <QString>

#include "common/consoletext.h"

namespace netshtext {

inline constexpr char16_t kOk[] = u"OK";
inline constexpr char16_t kNotFound[] = u"指定されたファイルが見つかりません。";
inline constexpr char16_t kExists[] = u"オブジェクトは既に存在します。";
inline constexpr char16_t kAccessDenied[] = u"アクセスが拒否されました。";
// Windows' text for a failure that is neither refused access nor a bad request.
inline constexpr char16_t kGeneralFailure[] = u"システムに接続されたデバイスが機能していません。";
inline constexpr char16_t kBadParameter[] = u"パラメーターが間違っています。";
inline constexpr char16_t kBadSyntax[] = u"指定されたコマンドの構文が正しくありません。";
inline constexpr char16_t kInvalidData[] = u"データが無効です。";
inline constexpr char16_t kUnknownCommand[] = u"次のコマンドが見つかりませんでした: ";

inline void PrintMessage(CConsoleText& out, const char16_t* text) {
    out.Line(QString::fromUtf16(text));
    out.Line();
}

}  // namespace netshtext
