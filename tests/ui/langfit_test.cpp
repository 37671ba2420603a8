// Every language library of the stage: each dialog, built from its template with the language's
// font, shows every control's text whole (no text cut at the right or bottom edge).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "support/testsupport.h"
#include "help/chmfile.h"
#include "ui/dialog/dialogex.h"

namespace {

QString Plain(QString text) { return text.remove(u'&'); }

// What of a control's text does not fit: empty when it all shows.
QString Overflow(QWidget* w) {
    const QFontMetrics fm(w->font());
    const QRect box = w->rect();
    QString text;
    int needed = 0;
    if (auto* check = qobject_cast<QCheckBox*>(w)) {
        text = Plain(check->text());
        needed = check->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, check) +
                 check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, check) +
                 fm.horizontalAdvance(text);
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        text = Plain(button->text());
        needed = fm.horizontalAdvance(text) +
                 2 * button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        text = group->title();
        needed = text.isEmpty() ? 0 : fm.horizontalAdvance(Plain(text)) + 2 * fm.averageCharWidth();
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        text = label->text();
        // A one-line box shows one line; a taller one wraps at word breaks like the label does,
        // and a word wider than the box or more lines than its height are cut.
        if (box.height() < 2 * fm.height()) {
            needed = fm.horizontalAdvance(text);
        } else {
            const QRect used =
                fm.boundingRect(QRect(0, 0, box.width(), 1 << 20),
                                Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
            if (used.width() > box.width() || used.height() > box.height())
                return QStringLiteral("\"%1\" needs %2x%3 px in %4x%5")
                    .arg(text)
                    .arg(used.width())
                    .arg(used.height())
                    .arg(box.width())
                    .arg(box.height());
        }
    }
    if (needed > box.width())
        return QStringLiteral("\"%1\" needs %2 px, has %3").arg(text).arg(needed).arg(box.width());
    return {};
}

}  // namespace

TEST(LanguageLibraries, EveryDialogShowsEveryTextWhole) {
    const QDir langs(testsupport::StageDir() + QStringLiteral("/conf/langs"));
    const QStringList languages = langs.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_TRUE(languages.contains(QStringLiteral("Japanese")));
    ASSERT_TRUE(languages.contains(QStringLiteral("English")));
    for (const QString& language : languages) {
        CResourceSet set;
        ASSERT_EQ(set.Load(langs.filePath(language + QStringLiteral("/lang.json"))),
                  CResourceSet::LoadStatus::Loaded)
            << language.toStdString();
        for (int id : {100, 103, 132, 139}) {
            const CDialogTemplate* t = set.Dialog(id);
            ASSERT_NE(t, nullptr) << language.toStdString() << " " << id;
            // The language's own font is the one drawn, not a substitute.
            const QFont font = CDialogEx::TemplateFont(*t);
            EXPECT_EQ(QFontInfo(font).family(), font.family()) << language.toStdString();
            CDialogEx dialog(id, set);
            ASSERT_TRUE(dialog.Create());
            for (const CDialogControl& c : t->controls) {
                if (c.text.isEmpty()) continue;
                // The control is found where its template puts it.
                const QRect at = CDialogEx::MapDialogRect(c.rect, CDialogEx::DialogBaseUnits(font));
                QWidget* w = nullptr;
                for (QWidget* child : dialog.findChild<QWidget*>(QStringLiteral("client"))
                                          ->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (!w && child->geometry() == at) w = child;
                ASSERT_NE(w, nullptr) << language.toStdString() << " " << id;
                const QString overflow = Overflow(w);
                EXPECT_TRUE(overflow.isEmpty())
                    << language.toStdString() << " dialog " << id << " control " << c.id << ": "
                    << overflow.toStdString();
            }
        }
    }
}

// Each language folder ships its terms of use and a help file whose contents all open.
TEST(LanguageLibraries, EveryLanguageHasItsTermsAndHelp) {
    CChmFile::SetReaderProgram(testsupport::StageDir() + QStringLiteral("/chmread"));
    const QDir langs(testsupport::StageDir() + QStringLiteral("/conf/langs"));
    for (const QString& language : langs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString dir = langs.filePath(language);
        EXPECT_GT(QFileInfo(dir + QStringLiteral("/license.rtf")).size(), 0)
            << language.toStdString();
        CChmFile help;
        ASSERT_TRUE(help.Open(dir + QStringLiteral("/help.chm"))) << language.toStdString();
        EXPECT_TRUE(help.Contains(CChmFile::ObjectPath(help.DefaultTopic())))
            << language.toStdString();
        const auto contents = help.Read(CChmFile::ObjectPath(help.ContentsFile()));
        ASSERT_TRUE(contents.has_value()) << language.toStdString();
        QList<CHelpTopic> topics = CChmFile::ParseSitemap(CChmFile::DecodeText(*contents));
        for (qsizetype i = 0; i < topics.size(); ++i) {
            const QList<CHelpTopic> children = topics[i].children;
            topics.append(children);
        }
        EXPECT_EQ(topics.size(), 8) << language.toStdString();
        for (const CHelpTopic& topic : topics)
            EXPECT_TRUE(help.Contains(CChmFile::ObjectPath(topic.local)))
                << language.toStdString() << " " << topic.local.toStdString();
    }
}
