#pragma once
// Glue between a toolkit-free control model (ui/Controls.h) and the Qt widget that draws it.
// A view owns one ModelLink: it registers the view's refresh function with the model and
// unregisters it when the view goes away. The model must outlive the view.

#include <QColor>
#include <QPainter>
#include <QString>
#include <QWidget>

#include <functional>
#include <string>

#include "ui/Controls.h"

namespace zelvox::qt {

class ModelLink {
public:
    ModelLink(Control& model, std::function<void()> refresh) : Model_(&model) {
        Token_ = model.AddViewListener(std::move(refresh));
    }
    ~ModelLink() { Model_->RemoveViewListener(Token_); }
    ModelLink(const ModelLink&) = delete;
    ModelLink& operator=(const ModelLink&) = delete;

private:
    Control* Model_;
    int Token_ = 0;
};

inline QColor ToQColor(Colour c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }
inline QString ToQString(const std::string& s) { return QString::fromStdString(s); }

// Shows the model's enabled and visible flags on a widget. Only an actual change of the
// visible flag touches the widget, so that a view inside a hidden panel is not forced to show.
inline void SyncCommon(QWidget* w, const Control& c) {
    if (w->isEnabled() != c.Enabled()) w->setEnabled(c.Enabled());
    if (w->isHidden() == c.Visible()) w->setVisible(c.Visible());
}

// The fonts the panel is drawn with: small pixel sizes, so that the fixed-size window holds
// every caption on any screen resolution.
QFont PanelFont(int pixelSize, bool bold = false);

// The frame the panel's own controls draw around themselves while they hold the keyboard
// focus: a bright line that stands out on the grey panel and on the dark controls alike.
inline const QColor kFocusColour(255, 214, 0);
void PaintFocusFrame(QPainter& p, const QRectF& r, const QColor& colour = kFocusColour);

} // namespace zelvox::qt
