#include "ui/qt/StdViews.h"

#include <QActionGroup>
#include <QLineEdit>
#include <QSignalBlocker>

namespace zelvox::qt {

void PaintFocusFrame(QPainter& p, const QRectF& r, const QColor& colour) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, 1.5));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    p.restore();
}

QFont PanelFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

SpinEditView::SpinEditView(ValueControl& model, bool typable, QWidget* parent)
    : QSpinBox(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    if (!typable) {
        // Stepping only: the arrows and keys work, the text cannot be edited.
        lineEdit()->setReadOnly(true);
        setContextMenuPolicy(Qt::NoContextMenu);
    }
    Refresh();
    connect(this, &QSpinBox::valueChanged, this, [this](int v) {
        Model_.SetValue(v);
        Refresh(); // the model may refuse or clamp differently
    });
}

void SpinEditView::Refresh() {
    SyncCommon(this, Model_);
    const QSignalBlocker block(this);
    if (minimum() != Model_.Min() || maximum() != Model_.Max()) setRange(Model_.Min(), Model_.Max());
    if (value() != Model_.Value()) setValue(Model_.Value());
}

TrackBarView::TrackBarView(ValueControl& model, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(1);
    setSingleStep(1);
    setPageStep(10);
    Refresh();
    connect(this, &QSlider::valueChanged, this, [this](int v) {
        Model_.SetValue(v);
        Refresh();
    });
}

void TrackBarView::Refresh() {
    SyncCommon(this, Model_);
    const QSignalBlocker block(this);
    if (minimum() != Model_.Min() || maximum() != Model_.Max()) setRange(Model_.Min(), Model_.Max());
    if (value() != Model_.Value()) setValue(Model_.Value());
    setToolTip(QString::number(Model_.Value()));
}

ComboBoxView::ComboBoxView(ComboBox& model, QWidget* parent)
    : QComboBox(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    Refresh();
    // activated: also a choice of the item already shown counts, as the model wants.
    connect(this, &QComboBox::activated, this, [this](int i) {
        Model_.SetItemIndex(i);
        Refresh();
    });
}

void ComboBoxView::Refresh() {
    SyncCommon(this, Model_);
    const QSignalBlocker block(this);
    bool same = count() == int(Model_.Items.size());
    for (int i = 0; same && i < count(); ++i) same = itemText(i) == ToQString(Model_.Items[size_t(i)]);
    if (!same) {
        clear();
        for (const auto& s : Model_.Items) addItem(ToQString(s));
    }
    if (currentIndex() != Model_.ItemIndex()) setCurrentIndex(Model_.ItemIndex());
}

ListBoxView::ListBoxView(ComboBox& model, QWidget* parent)
    : QListWidget(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    setSelectionMode(QAbstractItemView::SingleSelection);
    Refresh();
    connect(this, &QListWidget::currentRowChanged, this, [this](int i) {
        if (i != Model_.ItemIndex()) Model_.SetItemIndex(i);
        Refresh();
    });
}

void ListBoxView::Refresh() {
    SyncCommon(this, Model_);
    const QSignalBlocker block(this);
    bool same = count() == int(Model_.Items.size());
    for (int i = 0; same && i < count(); ++i) same = item(i)->text() == ToQString(Model_.Items[size_t(i)]);
    if (!same) {
        clear();
        for (const auto& s : Model_.Items) addItem(ToQString(s));
    }
    if (currentRow() != Model_.ItemIndex()) setCurrentRow(Model_.ItemIndex());
}

CheckBoxView::CheckBoxView(CheckBox& model, QWidget* parent)
    : QCheckBox(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    Refresh();
    connect(this, &QCheckBox::clicked, this, [this](bool c) {
        Model_.SetChecked(c);
        Refresh();
    });
}

void CheckBoxView::Refresh() {
    SyncCommon(this, Model_);
    const QSignalBlocker block(this);
    setText(ToQString(Model_.Caption()));
    if (isChecked() != Model_.Checked()) setChecked(Model_.Checked());
}

ButtonView::ButtonView(Button& model, QWidget* parent)
    : QPushButton(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    Refresh();
    connect(this, &QPushButton::clicked, this, [this] { Model_.Click(); });
}

void ButtonView::Refresh() {
    SyncCommon(this, Model_);
    const QString t = ToQString(Model_.Caption());
    if (text() != t) setText(t);
}

LabelView::LabelView(Label& model, QWidget* parent)
    : QLabel(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    Refresh();
}

void LabelView::Refresh() {
    SyncCommon(this, Model_);
    setText(ToQString(Model_.Caption()));
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, ToQColor(Model_.FontColour()));
    setPalette(pal);
}

MenuAction::MenuAction(MenuItem& model, QObject* parent)
    : QAction(parent), Model_(model), Link_(model, [this] { Refresh(); }) {
    setObjectName(ToQString(model.Name));
    Refresh();
    connect(this, &QAction::triggered, this, [this] {
        Model_.Click();
        // Qt may have moved the marks of the whole group; put them all back as the models say.
        if (QActionGroup* g = actionGroup()) {
            for (QAction* a : g->actions())
                if (auto* m = qobject_cast<MenuAction*>(a)) m->Refresh();
        } else {
            Refresh();
        }
    });
}

void MenuAction::Refresh() {
    setText(ToQString(Model_.Caption()));
    setEnabled(Model_.Enabled());
    setVisible(Model_.Visible());
    const bool checkable = Model_.RadioItem || Model_.Checked();
    // A plain item becomes checkable once its model is checked; it then keeps its mark box.
    if (checkable && !isCheckable()) setCheckable(true);
    if (isCheckable() && isChecked() != Model_.Checked()) setChecked(Model_.Checked());
}

} // namespace zelvox::qt
