// The version box: the program file's version read from disk each time, and the copyright
// lines from the settings file.
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <cstdint>
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "ui/aboutdialog.h"
#include "platform/versioninfo.h"
#include "uitestutil.h"

using testsupport::CTestApp;

namespace {

// A small ELF file with the given sections (name, contents), little- or big-endian, 32 or
// 64 bits, laid out as: header, section contents, section-name table, section headers.
QByteArray MakeElf(const QList<QPair<QByteArray, QByteArray>>& sections, bool is64 = true,
                   bool bigEndian = false) {
    auto put = [&](QByteArray& out, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
            out += char((v >> shift) & 0xFF);
        }
    };
    const int ehsize = is64 ? 64 : 52;
    const int shentsize = is64 ? 64 : 40;
    QByteArray body;
    QByteArray names("\0", 1);
    struct Sec { std::uint64_t name, offset, size, type; };
    QList<Sec> secs = {{0, 0, 0, 0}};
    for (const auto& s : sections) {
        secs.append({std::uint64_t(names.size()), std::uint64_t(ehsize + body.size()),
                     std::uint64_t(s.second.size()), 1});
        names += s.first + '\0';
        body += s.second;
    }
    const std::uint64_t shstrName = names.size();
    names += QByteArray(".shstrtab") + '\0';
    secs.append({shstrName, std::uint64_t(ehsize + body.size()), std::uint64_t(names.size()), 3});
    body += names;
    const std::uint64_t shoff = ehsize + body.size();

    QByteArray out("\x7f" "ELF", 4);
    out += char(is64 ? 2 : 1);
    out += char(bigEndian ? 2 : 1);
    out += char(1);
    out += QByteArray(9, '\0');
    put(out, 2, 2);            // e_type
    put(out, is64 ? 62 : 3, 2);  // e_machine
    put(out, 1, 4);            // e_version
    put(out, 0, is64 ? 8 : 4);  // e_entry
    put(out, 0, is64 ? 8 : 4);  // e_phoff
    put(out, shoff, is64 ? 8 : 4);
    put(out, 0, 4);            // e_flags
    put(out, ehsize, 2);
    put(out, 0, 2);            // e_phentsize
    put(out, 0, 2);            // e_phnum
    put(out, shentsize, 2);
    put(out, secs.size(), 2);
    put(out, secs.size() - 1, 2);  // e_shstrndx
    out += body;
    for (const Sec& s : secs) {
        const int w = is64 ? 8 : 4;
        put(out, s.name, 4);
        put(out, s.type, 4);
        put(out, 0, w);          // flags
        put(out, 0, w);          // addr
        put(out, s.offset, w);
        put(out, s.size, w);
        put(out, 0, 4);          // link
        put(out, 0, 4);          // info
        put(out, 1, w);          // addralign
        put(out, 0, w);          // entsize
    }
    return out;
}

const QByteArray kResource =
    "VS_VERSION_INFO\n\\StringFileInfo\\041104b0\\FileVersion=2.3.4.5\n\\StringFileInfo\\041104b0\\ProductName=X\n";

QString StagedProgram() { return testsupport::StageDir() + QStringLiteral("/zarntool"); }

bool CopyProgram(const QString& from, const QString& to) {
    QFile::remove(to);
    return QFile::copy(from, to);
}

QString ShowVersionBox(CTestApp& t, QString* copyright = nullptr) {
    CAboutDlg dlg(t.App());
    QString version;
    uitest::WhenModal([&](QWidget*) {
        version = dlg.GetDlgItemText(IDC_STATIC_VERSION);
        if (copyright) *copyright = dlg.GetDlgItemText(IDC_STATIC_COPYRIGHT);
        QTest::mouseClick(dlg.GetDlgItemAs<QPushButton>(IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    return version;
}

}  // namespace

TEST(VersionInfo, ProgramFileCarriesItsVersionResource) {
    ASSERT_TRUE(QFile::exists(StagedProgram())) << "the program is built before the tests";
    QByteArray data;
    ASSERT_TRUE(verinfo::GetFileVersionInfo(StagedProgram(), &data));
    EXPECT_EQ(verinfo::GetFileVersionInfoSize(StagedProgram()), data.size());
    QString value;
    ASSERT_TRUE(verinfo::VerQueryValue(data, QStringLiteral("\\StringFileInfo\\041104b0\\FileVersion"), &value));
    EXPECT_EQ(value, QStringLiteral("1.1.0.0"));
    ASSERT_TRUE(verinfo::VerQueryValue(data, QStringLiteral("\\FixedFileInfo\\FileVersion"), &value));
    EXPECT_EQ(value, QStringLiteral("1.1.0.0"));
    // Value paths are compared without regard to case.
    EXPECT_TRUE(verinfo::VerQueryValue(data, QStringLiteral("\\stringfileinfo\\041104B0\\fileversion"), &value));
    EXPECT_FALSE(verinfo::VerQueryValue(data, QStringLiteral("\\StringFileInfo\\040904b0\\FileVersion"), &value));
}

TEST(VersionInfo, ElfFilesOfEitherClassAndByteOrder) {
    CTestApp t;
    for (bool is64 : {true, false}) {
        for (bool big : {false, true}) {
            const QString path = t.Dir() + QStringLiteral("elf%1%2").arg(is64).arg(big);
            ASSERT_TRUE(testsupport::WriteFile(
                path, MakeElf({{".text", "code"}, {CORVANE_VERSION_SECTION, kResource + '\0'}}, is64, big)));
            EXPECT_EQ(CAboutDlg::FileVersionText(path), QStringLiteral("2.3.4.5")) << is64 << big;
        }
    }
}

TEST(VersionInfo, FilesWithoutAResourceAreUnknown) {
    CTestApp t;
    const QString dir = t.Dir();
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("nosection"), MakeElf({{".text", "code"}})));
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("text"), "#!/bin/sh\necho hi\n"));
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("empty"), ""));
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("wrongmagic"),
                                       MakeElf({{CORVANE_VERSION_SECTION, "something else"}})));
    ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("emptysection"), MakeElf({{CORVANE_VERSION_SECTION, ""}})));
    ASSERT_TRUE(CopyProgram(QStringLiteral("/bin/true"), dir + QStringLiteral("true")));
    for (const char* name : {"nosection", "text", "empty", "wrongmagic", "emptysection", "true", "missing"}) {
        const QString path = dir + QLatin1String(name);
        EXPECT_EQ(verinfo::GetFileVersionInfoSize(path), 0) << name;
        EXPECT_EQ(CAboutDlg::FileVersionText(path), QStringLiteral("unknown")) << name;
    }
    EXPECT_EQ(CAboutDlg::FileVersionText(dir), QStringLiteral("unknown"));
}

TEST(VersionInfo, ResourceWithoutFileVersionGivesEmptyText) {
    CTestApp t;
    const QString path = t.Dir() + QStringLiteral("noversion");
    ASSERT_TRUE(testsupport::WriteFile(
        path, MakeElf({{CORVANE_VERSION_SECTION, "VS_VERSION_INFO\n\\StringFileInfo\\041104b0\\ProductName=X\n"}})));
    EXPECT_GT(verinfo::GetFileVersionInfoSize(path), 0);
    EXPECT_EQ(CAboutDlg::FileVersionText(path), QString());
}

TEST(VersionInfo, DamagedFilesNeverBreakTheReader) {
    CTestApp t;
    const QByteArray good = MakeElf({{".text", "code"}, {CORVANE_VERSION_SECTION, kResource}});
    const QString path = t.Dir() + QStringLiteral("damaged");
    // Every truncation of the file.
    for (qsizetype n = 0; n < good.size(); n += 7) {
        ASSERT_TRUE(testsupport::WriteFile(path, good.left(n)));
        const QString text = CAboutDlg::FileVersionText(path);
        EXPECT_TRUE(text == QStringLiteral("unknown")) << n;
    }
    // Every byte of the headers set to 0xFF in turn: the reader answers without crashing.
    for (qsizetype i = 0; i < 64; ++i) {
        QByteArray bad = good;
        bad[i] = char(0xFF);
        ASSERT_TRUE(testsupport::WriteFile(path, bad));
        CAboutDlg::FileVersionText(path);
    }
    const qsizetype shoff = good.size() - 4 * 64;
    for (qsizetype i = shoff; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = char(bad[i] ^ 0xA5);
        ASSERT_TRUE(testsupport::WriteFile(path, bad));
        CAboutDlg::FileVersionText(path);
    }
    // A resource larger than the limit is not read.
    ASSERT_TRUE(testsupport::WriteFile(
        path, MakeElf({{CORVANE_VERSION_SECTION, "VS_VERSION_INFO\n" + QByteArray(70000, 'x')}})));
    EXPECT_EQ(CAboutDlg::FileVersionText(path), QStringLiteral("unknown"));
}

TEST(AboutDialog, ShowsTheRunningProgramsFileVersion) {
    CTestApp t;
    ASSERT_TRUE(CopyProgram(StagedProgram(), t.Dir() + QStringLiteral("zarntool")));
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("1.1.0.0"));
}

TEST(AboutDialog, ReadsTheFileAnewEachTimeItOpens) {
    CTestApp t;
    const QString program = t.Dir() + QStringLiteral("zarntool");
    ASSERT_TRUE(CopyProgram(StagedProgram(), program));
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("1.1.0.0"));
    ASSERT_TRUE(testsupport::WriteFile(program, MakeElf({{CORVANE_VERSION_SECTION, kResource}})));
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("2.3.4.5"));
    ASSERT_TRUE(CopyProgram(QStringLiteral("/bin/true"), program));
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("unknown"));
    QFile::remove(program);
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("unknown"));
}

TEST(AboutDialog, RenamedProgramFileIsTheOneRead) {
    CTestApp t;
    // The program renamed: its new name is the file read.
    ASSERT_TRUE(CopyProgram(StagedProgram(), t.Dir() + QStringLiteral("corvane-renamed")));
    t.App().m_pszExeName = QStringLiteral("corvane-renamed");
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("1.1.0.0"));
    // Under its old name nothing is found any more.
    t.App().m_pszExeName = QStringLiteral("zarntool");
    EXPECT_EQ(ShowVersionBox(t), QStringLiteral("unknown"));
}

TEST(AboutDialog, CopyrightLinesFromTheSettingsFile) {
    CTestApp t;
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("COPYRIGHT"), QStringLiteral("a\\nb"));
    QString copyright;
    ShowVersionBox(t, &copyright);
    EXPECT_EQ(copyright, QStringLiteral("a\nb"));
    bool traced = false;
    for (const QString& line : t.LogLines())
        if (line.endsWith(QStringLiteral(",csCopyRight=a\\nb"))) traced = true;
    EXPECT_TRUE(traced);

    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("COPYRIGHT"),
                 QStringLiteral("Copyright (C) 2026\\nCorvane\\n\\nend\\"));
    ShowVersionBox(t, &copyright);
    EXPECT_EQ(copyright, QStringLiteral("Copyright (C) 2026\nCorvane\n\nend\\"));
    EXPECT_EQ(CAboutDlg::ExpandLineBreaks(QStringLiteral("\\\\n")), QStringLiteral("\\\n"));
}

TEST(AboutDialog, MissingCopyrightLeavesTheStaticEmpty) {
    CTestApp t;
    t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("COPYRIGHT"), QStringLiteral("x"));
    QByteArray text = testsupport::ReadFile(t.App().m_pszProfileName);
    text.replace("COPYRIGHT=x", "");
    ASSERT_TRUE(testsupport::WriteFile(t.App().m_pszProfileName, text));
    QString copyright = QStringLiteral("unset");
    ShowVersionBox(t, &copyright);
    EXPECT_EQ(copyright, QString());
}

TEST(AboutDialog, ControlsOfTheTemplate) {
    CTestApp t;
    CAboutDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.GetDlgItem(1018), &dlg.m_stCopyright);
    EXPECT_EQ(dlg.GetDlgItem(1023), &dlg.m_stVersion);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Corvane"));
    const CDialogTemplate* tpl = dlg.Template();
    ASSERT_NE(tpl, nullptr);
    EXPECT_EQ(dlg.m_stVersion.geometry(), dlg.MapDialogRect(tpl->Control(1023)->rect));
    EXPECT_EQ(dlg.m_stCopyright.geometry(), dlg.MapDialogRect(tpl->Control(1018)->rect));
    EXPECT_TRUE(dlg.GetDlgItemAs<QPushButton>(IDOK)->isDefault());
    // Trace lines of the box.
    int start = 0, end = 0;
    for (const QString& line : t.LogLines()) {
        if (line.endsWith(QStringLiteral(",CAboutDlgクラスのOnInitDialogの処理を開始します。"))) ++start;
        if (line.endsWith(QStringLiteral(",CAboutDlgクラスのOnInitDialogの処理を終了します。"))) ++end;
    }
    EXPECT_EQ(start, 1);
    EXPECT_EQ(end, 1);
}
