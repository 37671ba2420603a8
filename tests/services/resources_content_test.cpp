// The shipped resource sets are complete: the program's own set (embedded) and the generated
// Japanese language library carry every string, dialog, control, menu item, accelerator and icon
// under its fixed number, with the exact texts.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <initializer_list>

#include "services/resourceset.h"
#include "platform/codepage.h"
#include "support/testsupport.h"

namespace {

struct CExpectedString {
    int id;
    const char16_t* text;
};

struct CExpectedControl {
    int id;
    const char* kind;
    int rect[4];
    const char16_t* text;
    std::initializer_list<const char*>
        flags;  // exactly these of "default" and "group"; others at least
};

// clang-format off
const CExpectedString kStrings[] = {
    {101, u"バージョン情報 Corvane(&A)..."},
    {104, u"Windows ソケットの初期化に失敗しました。"},
    {105, u"はい(&Y)"},
    {106, u"いいえ(&N)"},
    {107, u"キャンセル(&C)"},
    {200, u"ネットワーク名"},
    {201, u"ラベル"},
    {202, u"優先度"},
    {203, u"アドレス空間"},
    {204, u"有効"},
    {205, u"削除"},
    {300, u"Corvaneを起動しました。"},
    {301, u"Corvaneを終了しました。"},
    {302, u"ポリシ設定画面を表示しました。"},
    {303, u"ポリシ設定画面を閉じました。"},
    {304, u"%1クラスの%2の処理を開始します。"},
    {305, u"%1クラスの%2の処理を終了します。"},
    {306, u"%1=%2"},
    {400, u"ポリシテーブル設定ツールを終了してもよろしいですか？"},
    {401, u"選択中のポリシを削除してもよろしいですか？"},
    {402, u"言語の変更は次回起動時まで反映されません。"},
    {403, u"ファイルの出力が完了しました。(%1)"},
    {404, u"OSへの設定が完了しました。"},
    {500, u"対象の行が選択されていません。"},
    {501, u"%1コマンドの発行に失敗しました。"},
    {502, u"設定されたサーバに接続ができませんでした。"},
    {503, u"設定されたサーバが応答しません。"},
    {504, u"設定されたサーバが不正な応答を行いました。"},
    {505, u"%1は必須です。%1を入力して下さい。"},
    {506, u"%1の桁数が多すぎます。"},
    {507, u"%1には数値のみが使用できます。"},
    {508, u"%1には16進表記の数値および/と:のみが使用できます。"},
    {509, u"%1がIpv6形式のアドレス/プレフィックス長の形式ではありません。"},
    {510, u"ヘルプファイルが存在しません。"},
    {511, u"%1は既に存在します。"},
    {512, u"取得先アドレスが不正な形式です。"},
    {513, u"環境設定ファイルに書き込みが出来ません。"},
    {514, u"ポリシテーブル標準設定ファイルが存在しません。処理を続行できませんでした。"},
    {515, u"DHCPサーバに情報要求が出来ませんでした。"},
    {516, u"OSへの設定は正常に完了しましたが、\n設定ファイルの書き込みに失敗しました。"},
    {517, u"%1コマンドの発行に失敗しました。\nご利用頂いているOSをご確認のうえ、再度ダウンロードから実施して下さい。"},
    {518, u"取得したデータのうち%1行は不正な形式のため取り込みませんでした。"},
    {519, u"OSのポリシテーブルを登録前の状態に戻しました。"},
    {520, u"OSのポリシテーブルを登録前の状態に戻せませんでした。\nOSの設定をご確認下さい。"},
    {521, u"ポリシテーブル設定ファイルの%1行目が不正な形式です。\nOSへの設定は行いませんでした。"},
    {522, u"ポリシテーブル設定ファイルのうち%1行は不正な形式のため読み込みませんでした。"},
    {523, u"%1に制御文字は使用できません。"},
    {524, u"サーバは有効なポリシを含まない応答を返しました。（%1）"},
    {525, u"中断された登録がありました。OSのポリシテーブルを登録前の状態に戻しました。（%1）"},
    {526, u"中断された登録がありました。OSのポリシテーブルを登録前の状態に戻せませんでした。（%1）\nOSの設定をご確認下さい。"},
    {527, u"登録の記録ファイルが壊れているため、使用しませんでした。（%1 に移しました）\nOSの設定をご確認下さい。"},
    {528, u"登録の記録ファイルに書き込みが出来ません。（%1）\nOSへの設定は行いませんでした。"},
    {529, u"シグナル%1（%2）を受け取りました。処理を中止します。"},
    {600, u"ポリシテーブル設定ツールは既に起動されています。"},
    {601, u"/gの指定が不正です。dhcpかhttpを指定して下さい。"},
    {602, u"設定ファイルが存在しません。起動できません。"},
    {603, u"言語ファイルが存在しません。起動できません。"},
    {604, u"設定された言語の言語ファイルが存在しません。起動できません。"},
    {605, u"設定された言語の言語ファイルが認識できません。起動できません。"},
    {606, u"ポリシテーブル設定ファイルが存在しません。起動できません。"},
    {607, u"画面を表示できないため、利用規約を確認できません。OSの設定は変更していません。"},
    {608, u"このコンピュータのポリシテーブルを変更するには管理者の権限が必要です。管理者（root）として起動して下さい。デスクトップのメニューから起動するとパスワードを求められます。OSの設定は変更していません。"},
    {609, u"ログファイルに書き込めません。（%1）この実行の記録は残りません。"},
    {700, u"指定されたファイルが見つかりません。"},
    {701, u"Corvane"},
    {702, u"ヘルプ"},
    {703, u"戻る"},
    {704, u"進む"},
    {705, u"ホーム"},
    {706, u"目次"},
    {707, u"ページを表示できません。"},
    {708, u"表示できるページがありません。"},
    {709, u"ヘルプファイルを開けません。"},
    {800, u"ポリシの項目数が不正です。"},
    {801, u"利用規約（%1）に同意のうえ、--accept-terms を指定して下さい。OSの設定は変更していません。"},
    {802, u"指定が不正です。（%1）使い方は corvane --help で確認して下さい。"},
    {803, u"使い方: corvane [--json] [--quiet] <コマンド> [引数]\n\nコマンド:\n  show                              OSのポリシテーブルを表示します。\n  check [ファイル]                  ポリシテーブル設定ファイルの不正な行を報告します。\n  fetch dhcp|http [--address アドレス] [--option-code 番号] [-o ファイル]\n                                    ネットワークからポリシを取得し、設定ファイルの形式で出力します。\n  apply [ファイル] --accept-terms   ファイルの有効なポリシをOSに設定します。\n  default --accept-terms            標準のポリシテーブルをOSに設定します。\n  export ファイル                   OSのポリシテーブルとネットワーク設定をファイルに出力します。\n  order [--table ファイル] 名前|アドレス...\n                                    宛先アドレスを、プログラムが試す順に表示します（同順位は名前解決の順のまま）。\n  table 名前                        よく知られた表を設定ファイルの形式で出力します（glibc、rfc6724、rfc6724-ipv4）。\n  watch [--once] [--option-code 番号] --accept-terms\n                                    DHCPv6 で配られるポリシ（RFC 7078）に追従して OS に設定します。\n                                    --once: リンクごとに一度問い合わせて終了します。\n\nオプション:\n  --json     結果をJSON形式で出力します。\n  --quiet    エラー以外のメッセージを出力しません。\n  --help     この説明を表示します。\n  --version  バージョンを表示します。\n\n終了ステータス: 0 成功、1 失敗、2 指定の誤り、3 登録前のポリシテーブルに戻せなかった、\n          130/143/129 シグナル（SIGINT/SIGTERM/SIGHUP）で中止した（登録中は登録前の状態に戻した）"},
    {804, u"ネットワークからの取得は設定で無効になっています。"},
    {805, u"ファイルに書き込みが出来ません。（%1）"},
    {806, u"OSに設定しています… %1/%2"},
    {807, u"OSに設定しています…"},
    {808, u"%1 / %2"},
    {809, u"ネットワークからポリシを取得しています…"},
    {810, u"%1秒経過"},
    {811, u"中止しています。登録前の状態に戻します…"},
    {815, u"corvane バージョン %1"},
    {830, u"送信元 %1"},
    {831, u"到達不能"},
    {832, u"優先順位 %1 ラベル %2 送信元ラベル %3"},
    {833, u"規則%1で次より先"},
    {834, u"%1 の名前解決ができません。（%2）"},
    {835, u"このコンピュータのアドレスと経路を読み取れません。（%1）"},
    {836, u"%1 という表はありません。使える名前: %2"},
    {837, u"ポリシテーブル設定ファイルの%1行目が不正な形式です。"},
    {838, u"宛先"},
    {839, u"送信元"},
    {840, u"優先順位"},
    {841, u"ラベル"},
    {842, u"送信元ラベル"},
    {843, u"次より先にした規則"},
    {844, u"ホスト名またはアドレスを入力してください。"},
    {845, u"名前を解決し、経路を調べています…"},
    {880, u"%1 から受け取ったポリシを登録しました（%2 行）。"},
    {881, u"%1 から受け取ったポリシはシステムのテーブルと同じです。変更しません。"},
    {882, u"%1 から受け取ったポリシの登録を見送りました。このリンクの前回の登録から %2 秒たっていません。"},
    {883, u"%1 のサーバはアドレス選択ポリシを含まない応答を返しました。テーブルはそのままです。"},
    {884, u"リンク %1 が異なるポリシを配っています。テーブルはそのままです。"},
    {885, u"%1: サーバの指定（自動行追加 %2、一時アドレス優先 %3）には従いません。Linux ではこれらはカーネルの設定（sysctl）で決まります。"},
    {886, u"%1 から受け取ったポリシを拒否しました。検査を通らない行または欠けた行があります。"},
    {887, u"どのリンクのサーバからも応答がありませんでした。"},
    {888, u"リンクローカルアドレスを持つ動作中のリンクがありません。"},
    {889, u"ネットワークのポリシへの追従を開始しました（OPTION_CODE=%1）。"},
    {890, u"ネットワークのポリシへの追従を終了しました。"},
    {891, u"リンクの変化を追えません（%1）。"},
    {892, u"DHCPv6 のクライアントポート 546 を使えません（%1）。ほかの DHCPv6 クライアントが使っている可能性があります。"},
    {893, u"%1: 次の情報更新は %2 秒後です。"},
    {894, u"%1: 情報要求を開始します（%2）。"},
    {895, u"%1 から受け取ったポリシの登録を見送りました。エディタまたはほかの corvane コマンドが動作中です。あとで再度試みます。"},
};
const CExpectedControl kDialog103[] = {
    {1001, "button", {126, 6, 50, 19}, u"キャンセル", {"default"}},
    {1002, "button", {179, 6, 50, 19}, u"登録", {}},
    {1003, "listview", {7, 31, 222, 109}, u"", {"report", "singlesel", "showselalways", "border"}},
    {1017, "groupbox", {7, 136, 222, 21}, u"", {}},
    {1016, "edit", {28, 142, 76, 13}, u"", {"autohscroll", "group"}},
    {1009, "edit", {104, 142, 23, 13}, u"", {"autohscroll"}},
    {1011, "edit", {127, 142, 28, 13}, u"", {"autohscroll"}},
    {1015, "edit", {155, 142, 73, 13}, u"", {"autohscroll"}},
    {1004, "button", {73, 163, 50, 19}, u"削除", {"group"}},
    {1005, "button", {126, 163, 50, 19}, u"追加", {}},
    {1006, "button", {179, 163, 50, 19}, u"変更", {}},
};
const CExpectedControl kDialog132[] = {
    {-1, "groupbox", {18, 47, 259, 83}, u"", {}},
    {-1, "static", {14, 12, 10, 8}, u"OS", {}},
    {1008, "combobox", {36, 9, 97, 30}, u"", {"dropdownlist", "sort", "vscroll"}},
    {-1, "static", {13, 28, 17, 8}, u"言語", {}},
    {1010, "combobox", {36, 25, 97, 30}, u"", {"dropdownlist", "sort", "vscroll"}},
    {1012, "checkbox", {14, 47, 115, 10}, u"ネットワークからポリシを取得する", {"auto"}},
    {1019, "groupbox", {26, 63, 243, 64}, u"", {}},
    {1021, "static", {30, 63, 30, 8}, u"プロトコル", {}},
    {1014, "combobox", {36, 74, 97, 30}, u"", {"dropdownlist", "sort", "vscroll"}},
    {1020, "static", {36, 92, 49, 8}, u"取得先アドレス", {}},
    {1007, "edit", {35, 105, 229, 14}, u"", {"autohscroll", "border"}},
    {2, "button", {165, 134, 53, 17}, u"キャンセル", {"default"}},
    {1, "button", {225, 135, 53, 17}, u"設定", {}},
};
const CExpectedControl kDialog139[] = {
    {1022, "richedit", {8, 10, 268, 141}, u"", {"multiline", "readonly", "vscroll", "border"}},
    {1013, "checkbox", {8, 156, 113, 10}, u"上記内容について同意します。", {"auto"}},
    {-1, "static", {9, 172, 13, 8}, u"注：", {}},
    {-1, "static", {24, 172, 252, 21}, u"OSに設定を反映する際には、お客様の環境によって設定の反映に数分程度の時間がかかる場合があります。", {}},
    {1, "button", {164, 193, 53, 17}, u"利用する", {}},
    {2, "button", {223, 193, 53, 17}, u"終了", {"default"}},
};

const CExpectedControl kDialog100[] = {
    {-1, "static", {12, 14, 118, 8}, u"Corvane, Version", {}},
    {1023, "static", {128, 14, 24, 8}, u"1.0.0.0", {}},
    {1018, "static", {12, 29, 150, 26}, u"", {}},
    {1, "button", {114, 59, 50, 14}, u"OK", {"default"}},
};
const CExpectedControl kDialog140[] = {
    {1024, "static", {7, 7, 206, 8}, u"", {}},
    {1025, "static", {7, 19, 206, 8}, u"", {}},
    {1026, "static", {7, 31, 206, 18}, u"", {}},
    {2, "button", {163, 54, 50, 14}, u"中止", {}},
};

struct CExpectedDialog {
    int id;
    int width;
    int height;
    int points;
    const char* face;
    std::initializer_list<const char*> frame;
    const char* sizing;  // "fixed" or "resizable"
    int menu;
    const CExpectedControl* controls;
    size_t count;
};

template <size_t N>
constexpr size_t Count(const CExpectedControl (&)[N]) {
    return N;
}

const CExpectedDialog kDialogs[] = {
    {100, 171, 83, 9, "MS UI Gothic", {"caption", "sysmenu"}, "fixed", 0, kDialog100, Count(kDialog100)},
    {103, 236, 190, 9, "MS UI Gothic", {"caption", "sysmenu", "visible", "appwindow"}, "resizable", 130,
     kDialog103, Count(kDialog103)},
    {132, 284, 158, 8, "MS Shell Dlg", {"caption", "sysmenu"}, "fixed", 0, kDialog132, Count(kDialog132)},
    {139, 284, 217, 8, "MS Shell Dlg", {"caption", "sysmenu"}, "fixed", 0, kDialog139, Count(kDialog139)},
    {140, 220, 74, 9, "MS UI Gothic", {"caption", "sysmenu"}, "fixed", 0, kDialog140, Count(kDialog140)},
};

// clang-format on

QString Q(const char16_t* s) { return QString::fromUtf16(s); }

void ExpectStrings(const CResourceSet& set) {
    QList<int> ids;
    for (const CExpectedString& s : kStrings) {
        ids << s.id;
        EXPECT_EQ(set.String(s.id), Q(s.text)) << "string " << s.id;
    }
    EXPECT_EQ(set.StringIds(), ids);
}

// A language library may widen a control for its font's longer texts, nothing else.
void ExpectDialogs(const CResourceSet& set, bool widened = false) {
    for (const CExpectedDialog& d : kDialogs) {
        SCOPED_TRACE(testing::Message() << "dialog " << d.id);
        const CDialogTemplate* dlg = set.Dialog(d.id);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->caption, QStringLiteral("Corvane"));
        EXPECT_EQ(dlg->size, QSize(d.width, d.height));
        EXPECT_EQ(dlg->fontFace, QString::fromLatin1(d.face));
        EXPECT_EQ(dlg->fontPoints, d.points);
        EXPECT_TRUE(dlg->HasFrame(QString::fromLatin1(d.sizing)));
        EXPECT_FALSE(dlg->HasFrame(QString::fromLatin1(d.sizing) == u"fixed"
                                       ? QStringLiteral("resizable")
                                       : QStringLiteral("fixed")));
        for (const char* f : d.frame) EXPECT_TRUE(dlg->HasFrame(QString::fromLatin1(f))) << f;
        if (d.id != 103) {
            EXPECT_FALSE(dlg->HasFrame(QStringLiteral("visible")));
            EXPECT_FALSE(dlg->HasFrame(QStringLiteral("appwindow")));
        }
        EXPECT_EQ(dlg->menuId, d.menu);
        ASSERT_EQ(size_t(dlg->controls.size()), d.count);
        for (size_t i = 0; i < d.count; ++i) {
            const CExpectedControl& e = d.controls[i];
            const CDialogControl& c = dlg->controls[qsizetype(i)];
            SCOPED_TRACE(testing::Message() << "control #" << i << " id " << e.id);
            EXPECT_EQ(c.id, e.id);
            EXPECT_EQ(c.kind, QString::fromLatin1(e.kind));
            const QRect want(e.rect[0], e.rect[1], e.rect[2], e.rect[3]);
            if (widened) {
                EXPECT_EQ(c.rect.topLeft(), want.topLeft());
                EXPECT_EQ(c.rect.height(), want.height());
                EXPECT_GE(c.rect.width(), want.width());
            } else {
                EXPECT_EQ(c.rect, want);
            }
            EXPECT_EQ(c.text, Q(e.text));
            QStringList expected;
            for (const char* f : e.flags) expected << QString::fromLatin1(f);
            for (const QString& f : expected) EXPECT_TRUE(c.HasStyle(f)) << qPrintable(f);
            for (const char* exact : {"default", "group"})
                EXPECT_EQ(c.HasStyle(QString::fromLatin1(exact)),
                          expected.contains(QString::fromLatin1(exact)))
                    << exact;
        }
    }
}

struct CItem {
    int id;  // 0: separator
    const char16_t* text;
};

void ExpectPopup(const CMenuItem& popup, const char16_t* text, std::initializer_list<CItem> items) {
    SCOPED_TRACE(QString::fromUtf16(text).toStdString());
    EXPECT_EQ(popup.text, Q(text));
    ASSERT_EQ(size_t(popup.items.size()), items.size());
    qsizetype i = 0;
    for (const CItem& e : items) {
        const CMenuItem& item = popup.items[i++];
        if (e.id == 0) {
            EXPECT_TRUE(item.separator) << "item " << i;
            continue;
        }
        EXPECT_FALSE(item.separator);
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(item.text, Q(e.text));
    }
}

void ExpectAcceleratorsAndIcons(const CResourceSet& set) {
    const QList<CAccelerator> table = set.Accelerators(138);
    ASSERT_EQ(table.size(), 2);
    EXPECT_EQ(table[0].key, QStringLiteral("E"));
    EXPECT_EQ(table[0].modifiers, QStringList{QStringLiteral("ctrl")});
    EXPECT_EQ(table[0].command, 32779);
    EXPECT_EQ(table[1].key, QStringLiteral("Q"));
    EXPECT_EQ(table[1].modifiers, QStringList{QStringLiteral("ctrl")});
    EXPECT_EQ(table[1].command, 32787);
    for (int id : {128, 135, 136, 137}) {
        const QString path = set.IconPath(id);
        ASSERT_FALSE(path.isEmpty()) << "icon " << id;
        QImage image(path);
        EXPECT_FALSE(image.isNull()) << "icon " << id << " at " << qPrintable(path);
        EXPECT_GE(image.width(), 16);
        EXPECT_EQ(image.width(), image.height());
    }
}

CResourceSet LoadShippedLanguage() {
    CResourceSet set;
    QString reason;
    const QString path = testsupport::StageDir() + QStringLiteral("/conf/langs/Japanese/lang.json");
    EXPECT_EQ(set.Load(path, &reason), CResourceSet::LoadStatus::Loaded) << qPrintable(reason);
    return set;
}

}  // namespace

TEST(ProgramResourceSet, HoldsEveryStringWithItsExactText) {
    ExpectStrings(CResourceSet::ProgramSet());
}

TEST(ProgramResourceSet, HoldsTheFiveDialogTemplatesWithEveryControl) {
    ExpectDialogs(CResourceSet::ProgramSet());
}

TEST(ProgramResourceSet, MenuCarriesExportRestoreQuitHelpAndVersion) {
    const CMenuTemplate* menu = CResourceSet::ProgramSet().Menu(130);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->popups.size(), 2);
    ExpectPopup(menu->popups[0], u"ファイル(&F)",
                {{32779, u"エクスポート(&E)\tCtrl+E"},
                 {32793, u"アドレス順のプレビュー(&O)..."},
                 {0, nullptr},
                 {32782, u"初期値に戻す"},
                 {32794, u"よく知られた表から始める"},
                 {0, nullptr},
                 {32787, u"終了(&Q)\tCtrl+Q"}});
    ExpectPopup(menu->popups[1], u"ヘルプ(&H)",
                {{32785, u"ツールの使い方"}, {32783, u"バージョン情報"}});
}

TEST(ProgramResourceSet, HoldsAcceleratorsAndIcons) {
    ExpectAcceleratorsAndIcons(CResourceSet::ProgramSet());
}

TEST(JapaneseLanguageLibrary, CarriesTheSameStringsDialogsAcceleratorsAndIcons) {
    const CResourceSet set = LoadShippedLanguage();
    ExpectStrings(set);
    ExpectDialogs(set, true);
    ExpectAcceleratorsAndIcons(set);
    // The icons are copies beside the library, not references into the program.
    EXPECT_TRUE(set.IconPath(128).startsWith(testsupport::StageDir()));
}

TEST(JapaneseLanguageLibrary, MenuAddsNetworkFetchAndSettings) {
    const CResourceSet set = LoadShippedLanguage();
    const CMenuTemplate* menu = set.Menu(130);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->popups.size(), 2);
    ExpectPopup(menu->popups[0], u"ファイル(&F)",
                {{32781, u"ネットワークからポリシを取得(&N)"},
                 {32786, u"環境設定(&S)..."},
                 {0, nullptr},
                 {32779, u"エクスポート(&E)\tCtrl+E"},
                 {32793, u"アドレス順のプレビュー(&O)..."},
                 {0, nullptr},
                 {32782, u"初期値に戻す"},
                 {32794, u"よく知られた表から始める"},
                 {0, nullptr},
                 {32787, u"終了(&Q)\tCtrl+Q"}});
    ExpectPopup(menu->popups[1], u"ヘルプ(&H)",
                {{32785, u"ツールの使い方"}, {32783, u"バージョン情報"}});
}

namespace {

// Plain text of an RTF document: groups that are destinations ({\*..}, font table) dropped,
// control words skipped, \'hh bytes collected and decoded as CP932, \par as a line break.
QString RtfText(const QByteArray& rtf, int* boldRuns) {
    QByteArray bytes;
    int depth = 0;
    int skipBelow = -1;  // inside a skipped destination while depth > skipBelow
    *boldRuns = 0;
    for (qsizetype i = 0; i < rtf.size(); ++i) {
        const char c = rtf[i];
        if (c == '{') {
            ++depth;
            continue;
        }
        if (c == '}') {
            if (depth == skipBelow + 1) skipBelow = -1;
            --depth;
            continue;
        }
        if (c == '\\') {
            const char n = i + 1 < rtf.size() ? rtf[i + 1] : 0;
            if (n == '\'') {
                if (skipBelow < 0) bytes += char(rtf.mid(i + 2, 2).toInt(nullptr, 16));
                i += 3;
                continue;
            }
            if (n == '\\' || n == '{' || n == '}') {
                if (skipBelow < 0) bytes += n;
                ++i;
                continue;
            }
            qsizetype j = i + 1;
            while (j < rtf.size() && std::isalpha(static_cast<unsigned char>(rtf[j]))) ++j;
            const QByteArray word = rtf.mid(i + 1, j - i - 1);
            while (j < rtf.size() &&
                   (std::isdigit(static_cast<unsigned char>(rtf[j])) || rtf[j] == '-'))
                ++j;
            if (j < rtf.size() && rtf[j] == ' ') ++j;
            if (n == '*' || word == "fonttbl") {
                if (skipBelow < 0) skipBelow = depth - 1;
                if (n == '*') j = i + 2;
            }
            if (skipBelow < 0) {
                if (word == "par") bytes += '\n';
                if (word == "tab") bytes += '\t';
                if (word == "b" && rtf.mid(i, j - i).trimmed() == "\\b") ++*boldRuns;
            }
            i = j - 1;
            continue;
        }
        if (c == '\r' || c == '\n') continue;
        if (skipBelow < 0) bytes += c;
    }
    return platform::FromCp932(bytes);
}

}  // namespace

TEST(JapaneseLanguageLibrary, ShipsTermsOfUseAsCp932Rtf) {
    const QString path =
        testsupport::StageDir() + QStringLiteral("/conf/langs/Japanese/license.rtf");
    const QByteArray rtf = testsupport::ReadFile(path);
    ASSERT_FALSE(rtf.isEmpty());
    EXPECT_LE(rtf.size(), 100000);  // the agreement dialog shows documents up to this size
    EXPECT_TRUE(rtf.startsWith("{\\rtf1\\ansi\\ansicpg932"));
    EXPECT_EQ(rtf.count('{'), rtf.count('}'));
    for (char c : rtf) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "raw byte outside ASCII";
    int boldRuns = 0;
    const QString text = RtfText(rtf, &boldRuns);
    EXPECT_FALSE(text.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(text.contains(QStringLiteral("Corvane 利用規約")));
    EXPECT_TRUE(text.contains(QStringLiteral("上記内容について同意します。")));
    EXPECT_GE(boldRuns, 2);
    EXPECT_TRUE(text.contains(
        QRegularExpression(QStringLiteral("\\n1\\.\\t[^\\n]+\\n2\\.\\t[^\\n]+\\n3\\.\\t"))));
    EXPECT_FALSE(text.contains(QStringLiteral("MS UI Gothic")));  // the font table is no text
}
