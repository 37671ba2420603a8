// The language library generator: applies an overlay to the program's set, copies the icons,
// and fails the build on a broken overlay instead of writing a partial library.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "app/resourceset.h"
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
    ASSERT_EQ(Run(R"({"strings": {"701": "Corvane JA", "900": "new"},
                      "menus": {"130": [{"popup": 1, "at": "end", "items": [{"id": 40000, "text": "X"}]},
                                        {"popup": 0, "after": 32787, "items": [{"separator": true}]}]}})"),
              0);
    CResourceSet set;
    ASSERT_EQ(set.Load(Out() + QStringLiteral("/lang.json")), CResourceSet::LoadStatus::Loaded);
    EXPECT_EQ(set.String(701), QStringLiteral("Corvane JA"));
    EXPECT_EQ(set.String(900), QStringLiteral("new"));
    EXPECT_EQ(set.String(300), CResourceSet::ProgramSet().String(300));
    const CMenuTemplate* menu = set.Menu(130);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->popups[1].items.last().id, 40000);
    EXPECT_TRUE(menu->popups[0].items.last().separator);
    for (int id : {128, 135, 136, 137}) {
        EXPECT_TRUE(set.IconPath(id).startsWith(Out())) << id;
        EXPECT_EQ(ReadFile(set.IconPath(id)), ReadFile(CResourceSet::ProgramSet().IconPath(id)))
            << id;
    }
}

TEST_F(MkLang, ShippedOverlayBuildsWhatTheStageHolds) {
    ASSERT_EQ(Run(ReadFile(testsupport::SourceDir() +
                           QStringLiteral("/conf/langs/Japanese/lang.overlay.json"))),
              0);
    EXPECT_EQ(ReadFile(Out() + QStringLiteral("/lang.json")),
              ReadFile(testsupport::StageDir() + QStringLiteral("/conf/langs/Japanese/lang.json")));
}

TEST_F(MkLang, BrokenOverlaysFailWithAMessage) {
    const char* cases[] = {
        "not json",
        "[]",
        R"({"string": {}})",
        R"({"strings": {"abc": "x"}})",
        R"({"strings": {"300": 3}})",
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
