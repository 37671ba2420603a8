#pragma once
// Builds a window from a dialog template: the frame, the template font and its dialog base
// units, the client area, and each control at its template rectangle converted from dialog
// units to pixels the way the Windows dialog manager converts them.
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>

#include "services/resourceset.h"

class CDialogItems;
class QDialog;
class QMenuBar;
class QWidget;

class CDialogBuilder {
public:
    using MakeControl = std::function<QWidget*(const CDialogControl& control, QWidget* parent)>;
    using ConnectControl = std::function<void(int id, QWidget* control)>;
    struct Frame {
        QWidget* client = nullptr;  // the area the controls live in
        QSize baseUnits;
    };

    // Sets up `window` from `dialogTemplate` and fills `items`: each template control is the
    // substitute registered for its id, else the widget `make` returns (the layer's own when it
    // returns null). `connect` wires each control; `addMenu` makes the menu bar once the
    // window's layout exists and returns it (or null). The window gets the template size plus
    // the menu bar, fixed unless the template is resizable.
    static Frame Build(QDialog& window, const CDialogTemplate& dialogTemplate, CDialogItems& items,
                       const MakeControl& make, const ConnectControl& connect,
                       const std::function<QMenuBar*()>& addMenu);

    // The layer's widget for a template control of each kind.
    static QWidget* DefaultControl(const CDialogControl& control, QWidget* parent);
    // Text, styles and id of the template control on `widget`.
    static void SetupControl(const CDialogControl& control, QWidget* widget);
    // Puts `widget` at the template rectangle of `control`.
    static void PlaceControl(const CDialogControl& control, QWidget* widget,
                             const QSize& baseUnits);
    // Tab order: the template order of the controls that take the focus.
    static void UpdateTabOrder(const CDialogItems& items);

    // The installed font that stands in for the Windows dialog fonts ("MS UI Gothic",
    // "MS Shell Dlg"): the Japanese sans-serif font.
    static QString JapaneseFontFamily();
    // The font of a template: its face (substituted) at its point size at 96 dots per inch.
    static QFont TemplateFont(const CDialogTemplate& dialogTemplate);
    // Horizontal base unit: average width of the 52 letters A-Z a-z, rounded as Windows does;
    // vertical base unit: the font's height.
    static QSize DialogBaseUnits(const QFont& font);
    // x*bx/4, y*by/8, width*bx/4, height*by/8, each rounded like MulDiv.
    static QRect MapDialogRect(const QRect& dialogUnits, const QSize& baseUnits);

private:
    static void SetFrame(QDialog& window, const CDialogTemplate& dialogTemplate);
    static void FitWindow(QDialog& window, QWidget* client, const CDialogTemplate& dialogTemplate,
                          const QSize& baseUnits, const QMenuBar* menuBar);
};
