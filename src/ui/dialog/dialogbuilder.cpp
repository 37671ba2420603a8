#include "ui/dialog/dialogbuilder.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdint>

#include "ui/dialog/combobox.h"
#include "ui/dialog/dialogitems.h"

namespace {

// a*b/c rounded half away from zero, as Windows' MulDiv does.
int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = (c < 0 ? -c : c) / 2;
    const bool negative = (p < 0) != (c < 0);
    const std::int64_t ap = p < 0 ? -p : p;
    const std::int64_t ac = c < 0 ? -c : c;
    const std::int64_t q = (ap + half) / ac;
    return static_cast<int>(negative ? -q : q);
}

bool IsWindowsDialogFace(const QString& face) {
    static const char* const kFaces[] = {"MS UI Gothic",  "MS Shell Dlg", "MS Shell Dlg 2",
                                         "MS Sans Serif", "MS Gothic",    "MS PGothic",
                                         "Meiryo UI",     "Meiryo",       "System"};
    for (const char* f : kFaces)
        if (face.compare(QLatin1String(f), Qt::CaseInsensitive) == 0) return true;
    // The Japanese spellings of the MS Gothic faces.
    return face.contains(QStringLiteral("ゴシック"));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dialog units

QString CDialogBuilder::JapaneseFontFamily() {
    static const QString family = [] {
        const QString fallback = QStringLiteral("Noto Sans CJK JP");
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return fallback;
        const QStringList families = QFontDatabase::families();
        static const char* const kPreferred[] = {"Noto Sans CJK JP", "Noto Sans JP", "IPAexGothic",
                                                 "IPAGothic",        "TakaoGothic",  "VL Gothic"};
        for (const char* p : kPreferred)
            if (families.contains(QLatin1String(p))) return QString::fromLatin1(p);
        for (const QString& f : families)
            if (f.contains(QStringLiteral("CJK JP"))) return f;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont CDialogBuilder::TemplateFont(const CDialogTemplate& dialogTemplate) {
    const QString face = dialogTemplate.fontFace;
    QFont font(face.isEmpty() || IsWindowsDialogFace(face) ? JapaneseFontFamily() : face);
    // Point size at 96 dots per inch, the Windows dialog manager's logical resolution.
    const int points = dialogTemplate.fontPoints > 0 ? dialogTemplate.fontPoints : 9;
    font.setPixelSize(qMax(1, MulDiv(points, 96, 72)));
    return font;
}

QSize CDialogBuilder::DialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int bx = (width / 26 + 1) / 2;
    const int by = fm.height();
    return QSize(qMax(1, bx), qMax(1, by));
}

QRect CDialogBuilder::MapDialogRect(const QRect& du, const QSize& base) {
    return QRect(MulDiv(du.x(), base.width(), 4), MulDiv(du.y(), base.height(), 8),
                 MulDiv(du.width(), base.width(), 4), MulDiv(du.height(), base.height(), 8));
}

// ---------------------------------------------------------------------------------------------
// Building the window

CDialogBuilder::Frame CDialogBuilder::Build(QDialog& window, const CDialogTemplate& t,
                                            CDialogItems& items, const MakeControl& make,
                                            const ConnectControl& connect,
                                            const std::function<QMenuBar*()>& addMenu) {
    SetFrame(window, t);
    const QFont font = TemplateFont(t);
    Frame frame;
    frame.baseUnits = DialogBaseUnits(font);

    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    frame.client = new QWidget(&window);
    frame.client->setObjectName(QStringLiteral("client"));
    frame.client->setFont(font);
    layout->addWidget(frame.client);
    const QMenuBar* menuBar = addMenu();

    for (const CDialogControl& c : t.controls) {
        QWidget* widget = c.id != -1 ? items.Substitute(c.id) : nullptr;
        if (!widget) {
            widget = make(c, frame.client);
            if (!widget) widget = new QWidget(frame.client);
            widget->setProperty(CDialogItems::kMadeByLayer, true);
        }
        if (widget->parentWidget() != frame.client) widget->setParent(frame.client);
        SetupControl(c, widget);
        PlaceControl(c, widget, frame.baseUnits);
        connect(c.id, widget);
        widget->show();
        items.Add(c, widget);
    }
    UpdateTabOrder(items);
    FitWindow(window, frame.client, t, frame.baseUnits, menuBar);
    return frame;
}

void CDialogBuilder::SetFrame(QDialog& window, const CDialogTemplate& t) {
    Qt::WindowFlags flags = (t.HasFrame(QStringLiteral("appwindow")) ? Qt::Window : Qt::Dialog) |
                            Qt::CustomizeWindowHint;
    if (t.HasFrame(QStringLiteral("caption"))) flags |= Qt::WindowTitleHint;
    if (t.HasFrame(QStringLiteral("sysmenu")))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    window.setWindowFlags(flags);
    window.setWindowTitle(t.caption);
    window.setSizeGripEnabled(false);
}

void CDialogBuilder::FitWindow(QDialog& window, QWidget* client, const CDialogTemplate& t,
                               const QSize& base, const QMenuBar* menuBar) {
    const QSize size(MulDiv(t.size.width(), base.width(), 4),
                     MulDiv(t.size.height(), base.height(), 8));
    const int menuHeight = menuBar ? menuBar->sizeHint().height() : 0;
    if (t.HasFrame(QStringLiteral("resizable"))) {
        window.layout()->setSizeConstraint(QLayout::SetNoConstraint);
        client->resize(size);
        window.resize(size.width(), size.height() + menuHeight);
    } else {
        client->setFixedSize(size);
        window.layout()->setSizeConstraint(QLayout::SetFixedSize);
        window.setFixedSize(size.width(), size.height() + menuHeight);
    }
}

QWidget* CDialogBuilder::DefaultControl(const CDialogControl& c, QWidget* parent) {
    const QString& kind = c.kind;
    if (kind == QLatin1String("button")) return new QPushButton(parent);
    if (kind == QLatin1String("checkbox")) return new QCheckBox(parent);
    if (kind == QLatin1String("static")) return new QLabel(parent);
    if (kind == QLatin1String("groupbox")) return new QGroupBox(parent);
    if (kind == QLatin1String("edit")) return new QLineEdit(parent);
    if (kind == QLatin1String("combobox")) return new CComboBox(parent);
    if (kind == QLatin1String("richedit")) return new QTextEdit(parent);
    if (kind == QLatin1String("listview")) {
        // A report-view placeholder; the dialog that owns the list supplies its own control.
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        return list;
    }
    return new QWidget(parent);
}

void CDialogBuilder::SetupControl(const CDialogControl& c, QWidget* w) {
    if (c.id != -1) w->setObjectName(QStringLiteral("dlgitem_%1").arg(c.id));
    const bool tabStop = c.HasStyle(QStringLiteral("tabstop"));

    if (auto* pb = qobject_cast<QPushButton*>(w)) {
        pb->setText(c.text);
        pb->setDefault(c.HasStyle(QStringLiteral("default")));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(c.text);
        if (auto* check = qobject_cast<QCheckBox*>(w)) check->setTristate(false);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(c.text);
        group->setFocusPolicy(Qt::NoFocus);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setText(c.text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setFrame(c.HasStyle(QStringLiteral("border")));
        edit->setText(c.text);
    } else if (auto* combo = qobject_cast<CComboBox*>(w)) {
        combo->SetSorted(c.HasStyle(QStringLiteral("sort")));
    } else if (auto* text = qobject_cast<QTextEdit*>(w)) {
        text->setReadOnly(c.HasStyle(QStringLiteral("readonly")));
        text->setFrameShape(c.HasStyle(QStringLiteral("border")) ? QFrame::StyledPanel
                                                                 : QFrame::NoFrame);
        text->setVerticalScrollBarPolicy(
            c.HasStyle(QStringLiteral("vscroll")) ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        text->setLineWrapMode(QTextEdit::WidgetWidth);
        if (!c.text.isEmpty()) text->setPlainText(c.text);
    } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
        view->setFrameShape(c.HasStyle(QStringLiteral("border")) ? QFrame::StyledPanel
                                                                 : QFrame::NoFrame);
        view->setSelectionMode(c.HasStyle(QStringLiteral("singlesel"))
                                   ? QAbstractItemView::SingleSelection
                                   : QAbstractItemView::ExtendedSelection);
    }
    // Controls without the tab-stop style are skipped by Tab but still take a click.
    if (!tabStop && w->focusPolicy() != Qt::NoFocus) w->setFocusPolicy(Qt::ClickFocus);
}

void CDialogBuilder::PlaceControl(const CDialogControl& c, QWidget* w, const QSize& baseUnits) {
    QRect r = MapDialogRect(c.rect, baseUnits);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // The template height of a drop-down list includes its dropped list; the selection
        // field itself is as tall as the font needs.
        const int field = combo->sizeHint().height();
        const int item = qMax(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(qMax(1, (r.height() - field) / item));
        r.setHeight(field);
    }
    w->setGeometry(r);
}

void CDialogBuilder::UpdateTabOrder(const CDialogItems& items) {
    QWidget* previous = nullptr;
    for (const CDialogItems::Entry& e : items.Entries()) {
        QWidget* w = e.widget;
        if (!w || w->focusPolicy() == Qt::NoFocus) continue;
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}
