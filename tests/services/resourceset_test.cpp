// Loading resource sets: good files load, bad ones are told apart with a reason, never a crash.
#include "services/resourceset.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/testsupport.h"

using testsupport::ReadFile;
using testsupport::WriteFile;
using Status = CResourceSet::LoadStatus;

namespace {

class ResourceLoader : public ::testing::Test {
protected:
    QString Path() const { return m_dir.path() + QStringLiteral("/lang.json"); }
    Status LoadBytes(const QByteArray& bytes) {
        EXPECT_TRUE(WriteFile(Path(), bytes));
        m_reason.clear();
        return m_set.Load(Path(), &m_reason);
    }
    QTemporaryDir m_dir;
    CResourceSet m_set;
    QString m_reason;
};

QByteArray ShippedJson() {
    return ReadFile(testsupport::SourceDir() + QStringLiteral("/res/zarntool.json"));
}

}  // namespace

TEST_F(ResourceLoader, LoadsTheEmbeddedProgramSet) {
    const CResourceSet& set = CResourceSet::ProgramSet();
    ASSERT_TRUE(set.IsLoaded());
    EXPECT_EQ(set.String(701), QStringLiteral("Corvane"));
    EXPECT_EQ(set.IconPath(128), QStringLiteral(":/res/icons/app.xpm"));
}

TEST_F(ResourceLoader, LoadsAGoodFileAndResolvesIconsBesideIt) {
    ASSERT_EQ(LoadBytes(ShippedJson()), Status::Loaded) << qPrintable(m_reason);
    EXPECT_TRUE(m_set.IsLoaded());
    EXPECT_EQ(m_set.String(300), QStringLiteral("Corvaneを起動しました。"));
    EXPECT_EQ(m_set.IconPath(135), m_dir.path() + QStringLiteral("/icons/source-user.xpm"));
    ASSERT_NE(m_set.Dialog(103), nullptr);
    ASSERT_NE(m_set.Menu(130), nullptr);
    EXPECT_TRUE(m_set.HasAccelerators(138));
}

TEST_F(ResourceLoader, MissingFileOrFolderIsNotFound) {
    EXPECT_EQ(m_set.Load(Path(), &m_reason), Status::NotFound);
    EXPECT_FALSE(m_reason.isEmpty());
    EXPECT_EQ(m_set.Load(m_dir.path(), &m_reason), Status::NotFound);
    EXPECT_EQ(m_set.Load(QString()), Status::NotFound);  // no reason wanted: no crash
}

TEST_F(ResourceLoader, BadFilesAreNotLoadableWithAReason) {
    const QByteArray good = ShippedJson();
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"empty", QByteArray()},
        {"truncated", good.left(good.size() / 2)},
        {"not JSON", "MZ\x90\x00 this is a Windows library"},
        {"binary", QByteArray(4096, '\xFF')},
        {"top level array", "[1, 2, 3]"},
        {"top level text", "\"strings\""},
        {"no strings", "{\"dialogs\": {}}"},
        {"strings is a list", "{\"strings\": [\"a\"]}"},
        {"string is a number", "{\"strings\": {\"300\": 5}}"},
        {"string id is a word", "{\"strings\": {\"start\": \"x\"}}"},
        {"dialogs is a list", "{\"strings\": {}, \"dialogs\": []}"},
        {"dialog without size", "{\"strings\": {}, \"dialogs\": {\"100\": {\"caption\": \"x\"}}}"},
        {"dialog size of words",
         "{\"strings\": {}, \"dialogs\": {\"100\": {\"size\": [\"a\", \"b\"]}}}"},
        {"control not an object",
         "{\"strings\": {}, \"dialogs\": {\"100\": {\"size\": [1, 2], \"controls\": [5]}}}"},
        {"control without kind",
         "{\"strings\": {}, \"dialogs\": {\"100\": {\"size\": [1, 2], \"controls\": [{\"rect\": "
         "[1, 2, 3, 4]}]}}}"},
        {"control with short rect",
         "{\"strings\": {}, \"dialogs\": {\"100\": {\"size\": [1, 2], \"controls\": [{\"kind\": "
         "\"static\", "
         "\"rect\": [1, 2, 3]}]}}}"},
        {"style not a list",
         "{\"strings\": {}, \"dialogs\": {\"100\": {\"size\": [1, 2], \"controls\": [{\"kind\": "
         "\"static\", "
         "\"rect\": [1, 2, 3, 4], \"style\": \"default\"}]}}}"},
        {"menus is a list", "{\"strings\": {}, \"menus\": []}"},
        {"menu without popups", "{\"strings\": {}, \"menus\": {\"130\": 1}}"},
        {"menu item without id",
         "{\"strings\": {}, \"menus\": {\"130\": {\"popups\": [{\"text\": \"F\", \"items\": "
         "[{\"text\": \"x\"}]}]}}}"},
        {"popup items not a list",
         "{\"strings\": {}, \"menus\": {\"130\": {\"popups\": [{\"items\": 3}]}}}"},
        {"accelerators not a list",
         "{\"strings\": {}, \"accelerators\": {\"138\": {\"key\": \"E\"}}}"},
        {"accelerator without key",
         "{\"strings\": {}, \"accelerators\": {\"138\": [{\"command\": 32779}]}}"},
        {"icon without file", "{\"strings\": {}, \"icons\": {\"128\": 7}}"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LoadBytes(c.bytes), Status::NotLoadable) << c.what;
        EXPECT_FALSE(m_reason.isEmpty()) << c.what;
        EXPECT_FALSE(m_set.IsLoaded()) << c.what;
        EXPECT_TRUE(m_set.StringIds().isEmpty()) << c.what;
    }
}

TEST_F(ResourceLoader, AFailedLoadLeavesNothingOfAnEarlierSet) {
    ASSERT_EQ(LoadBytes(ShippedJson()), Status::Loaded);
    ASSERT_EQ(LoadBytes("{\"strings\": {\"300\": \"x\"}, \"dialogs\": 1}"), Status::NotLoadable);
    EXPECT_TRUE(m_set.String(300).isEmpty());
    EXPECT_EQ(m_set.Dialog(103), nullptr);
}

TEST_F(ResourceLoader, ASetLackingIdsLoadsAndMissingIdsGiveNothing) {
    ASSERT_EQ(LoadBytes("{\"strings\": {\"701\": \"Corvane\"}}"), Status::Loaded)
        << qPrintable(m_reason);
    EXPECT_EQ(m_set.String(701), QStringLiteral("Corvane"));
    EXPECT_TRUE(m_set.String(300).isEmpty());
    EXPECT_FALSE(m_set.HasString(300));
    EXPECT_EQ(m_set.Dialog(103), nullptr);
    EXPECT_EQ(m_set.Menu(130), nullptr);
    EXPECT_FALSE(m_set.HasAccelerators(138));
    EXPECT_TRUE(m_set.Accelerators(138).isEmpty());
    EXPECT_TRUE(m_set.IconPath(128).isEmpty());
}

TEST_F(ResourceLoader, DeepNestingIsRefusedWithoutACrash) {
    QByteArray deep = "{\"strings\": {}, \"menus\": {\"130\": {\"popups\": [";
    for (int i = 0; i < 50; ++i) deep += "{\"text\": \"p\", \"items\": [";
    deep += "{\"id\": 1, \"text\": \"x\"}";
    for (int i = 0; i < 50; ++i) deep += "]}";
    deep += "]}}}";
    EXPECT_EQ(LoadBytes(deep), Status::NotLoadable);
    EXPECT_EQ(LoadBytes(QByteArray(100000, '[')), Status::NotLoadable);
}
