// The language library generator: applies an overlay to the program's set, copies the icons,
// and fails the build on a broken overlay instead of writing a partial library.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "services/resourceset.h"
#include "support/testsupport.h"

using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

class MkLang : public ::testing::Test {
protected:
    int Run(const QByteArray& overlay, QString* errors = nullptr) {
        EXPECT_TRUE(WriteFile(m_dir.path() + QStringLiteral("/overlay.json"), overlay));
        QProcess p;
        p.start(QStringLiteral(CORVANE_MKLANG),
                {testsupport::SourceDir() + QStringLiteral("/res/zarntool.json"),
                 m_dir.path() + QStringLiteral("/overlay.json"), Out()});
        EXPECT_TRUE(p.waitForFinished(30000));
        if (errors) *errors = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString Out() const { return m_dir.path() + QStringLiteral("/out"); }
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(MkLang, AppliesTheOverlayAndCopiesTheIcons) {
    ASSERT_EQ(Run(R"({"strings": {"701": "Corvane JA", "505": "%1 needed; enter %1"},
                      "dialogs": {"132": {"size": [300, 160], "font": {"face": "DejaVu Sans", "size": 8},
                                          "controls": [{"index": 3, "text": "Lang", "rect": [1, 2, 3, 4]}]}},
                      "menuTexts": {"130": {"popups": ["&File"], "items": {"32783": "About"}}},
                      "menus": {"130": [{"popup": 1, "at": "end", "items": [{"id": 40000, "text": "X"}]},
                                        {"popup": 0, "after": 32787, "items": [{"separator": true}]}]}})"),
              0);
    CResourceSet set;
    ASSERT_EQ(set.Load(Out() + QStringLiteral("/lang.json")), CResourceSet::LoadStatus::Loaded);
    EXPECT_EQ(set.String(701), QStringLiteral("Corvane JA"));
    EXPECT_EQ(set.String(505), QStringLiteral("%1 needed; enter %1"));
    const CDialogTemplate* dialog = set.Dialog(132);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->size, QSize(300, 160));
    EXPECT_EQ(dialog->fontFace, QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(dialog->controls[3].text, QStringLiteral("Lang"));
    EXPECT_EQ(dialog->controls[3].rect, QRect(1, 2, 3, 4));
    EXPECT_EQ(set.String(300), CResourceSet::ProgramSet().String(300));
    const CMenuTemplate* menu = set.Menu(130);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->popups[0].text, QStringLiteral("&File"));
    EXPECT_EQ(menu->popups[1].items[1].text, QStringLiteral("About"));
    EXPECT_EQ(menu->popups[1].items.last().id, 40000);
    EXPECT_TRUE(menu->popups[0].items.last().separator);
    for (int id : {128, 135, 136, 137}) {
        EXPECT_TRUE(set.IconPath(id).startsWith(Out())) << id;
        EXPECT_EQ(ReadFile(set.IconPath(id)), ReadFile(CResourceSet::ProgramSet().IconPath(id)))
            << id;
    }
}

TEST_F(MkLang, ShippedOverlaysBuildWhatTheStageHolds) {
    for (const QString& language : {QStringLiteral("Japanese"), QStringLiteral("English")}) {
        ASSERT_EQ(Run(ReadFile(testsupport::SourceDir() + QStringLiteral("/conf/langs/") +
                               language + QStringLiteral("/lang.overlay.json"))),
                  0)
            << language.toStdString();
        EXPECT_EQ(ReadFile(Out() + QStringLiteral("/lang.json")),
                  ReadFile(testsupport::StageDir() + QStringLiteral("/conf/langs/") + language +
                           QStringLiteral("/lang.json")))
            << language.toStdString();
    }
}

// Every problem of an overlay is listed by id, so that a text added to the program's set
// shows up by number in the build of each language.
TEST_F(MkLang, MismatchesWithTheProgramSetAreListed) {
    QByteArray english = ReadFile(testsupport::SourceDir() +
                                  QStringLiteral("/conf/langs/English/lang.overlay.json"));
    english.replace("\"701\": \"Corvane\"", "\"900\": \"new\"");
    english.replace("\"%1 is too long.\"", "\"%1 is longer than %2.\"");
    english.replace("\"%1 is required. Please enter %1.\"", "\"Please enter %1.\"");
    english.replace("\"text\": \"Register\"", "\"rect\": [179, 6, 60, 19]");
    english.replace("\"32785\": \"&How to use\",", "");
    QString errors;
    ASSERT_EQ(Run(english, &errors), 1);
    for (const char* line :
         {"string 900: not in the program's resource set",
          "string 506: placeholders %1 %2 instead of %1",
          "string 505: placeholders %1 instead of %1 %1", "string 701: no text in the ",
          "dialog 103 control at index 1 (id 1002): no text", "menu 130 item 32785: no text",
          "(problems: 6)"})
        EXPECT_TRUE(errors.contains(QLatin1String(line))) << line << "\n" << errors.toStdString();
    EXPECT_FALSE(QFile::exists(Out() + QStringLiteral("/lang.json")));
}

TEST_F(MkLang, BrokenOverlaysFailWithAMessage) {
    const char* cases[] = {
        "not json",
        "[]",
        R"({"string": {}})",
        R"({"strings": {"abc": "x"}})",
        R"({"strings": {"300": 3}})",
        R"({"dialogs": {"132": {"controls": [{"index": 13, "text": "x"}]}}})",
        R"({"dialogs": {"132": {"size": [1]}}})",
        R"({"menuTexts": {"130": {"items": {"40000": "x"}}}})",
        R"({"menus": {"999": []}})",
        R"({"menus": {"130": [{"popup": 5, "at": "end", "items": [{"id": 1, "text": "x"}]}]}})",
        R"({"menus": {"130": [{"popup": 0, "before": 11111, "items": [{"id": 1, "text": "x"}]}]}})",
        R"({"menus": {"130": [{"popup": 0, "at": "end", "before": 32779, "items": [{"id": 1, "text": "x"}]}]}})",
        R"({"menus": {"130": [{"popup": 0, "at": "end", "items": [{"id": 32787, "text": "dup"}]}]}})",
        R"({"menus": {"130": [{"popup": 0, "at": "end", "items": []}]}})",
        R"({"menus": {"130": [{"popup": 0, "at": "end", "items": [{"text": "no id"}]}]}})",
        R"({"menus": {"130": [{"popup": 0, "at": "middle", "items": [{"id": 1, "text": "x"}]}]}})",
    };
    for (const char* overlay : cases) {
        QString errors;
        EXPECT_EQ(Run(overlay, &errors), 1) << overlay;
        EXPECT_TRUE(errors.startsWith(QStringLiteral("mklang: "))) << overlay;
        EXPECT_FALSE(QFile::exists(Out() + QStringLiteral("/lang.json"))) << overlay;
    }
}
