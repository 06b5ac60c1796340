#pragma once
// Views of the simple models drawn with Qt's own widgets: spin edits (QSpinBox), combo boxes,
// check boxes, push buttons, plain labels and menu items (QAction).

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "ui/Controls.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::qt {

class SpinEditView : public QSpinBox {
    Q_OBJECT
public:
    // typable = false: the text cannot be typed into, only stepped with the arrows.
    explicit SpinEditView(ValueControl& model, bool typable = true, QWidget* parent = nullptr);
    ValueControl& Model() const { return Model_; }

private:
    void Refresh();
    ValueControl& Model_;
    ModelLink Link_;
};

// A horizontal track bar (slider with ticks below) on a value control.
class TrackBarView : public QSlider {
    Q_OBJECT
public:
    explicit TrackBarView(ValueControl& model, QWidget* parent = nullptr);
    ValueControl& Model() const { return Model_; }

private:
    void Refresh();
    ValueControl& Model_;
    ModelLink Link_;
};

class ComboBoxView : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBoxView(ComboBox& model, QWidget* parent = nullptr);
    ComboBox& Model() const { return Model_; }

private:
    void Refresh();
    ComboBox& Model_;
    ModelLink Link_;
};

// A list box on a drop-down list's model: the items one per row, the chosen one selected.
class ListBoxView : public QListWidget {
    Q_OBJECT
public:
    explicit ListBoxView(ComboBox& model, QWidget* parent = nullptr);
    ComboBox& Model() const { return Model_; }

private:
    void Refresh();
    ComboBox& Model_;
    ModelLink Link_;
};

class CheckBoxView : public QCheckBox {
    Q_OBJECT
public:
    explicit CheckBoxView(CheckBox& model, QWidget* parent = nullptr);
    CheckBox& Model() const { return Model_; }

private:
    void Refresh();
    CheckBox& Model_;
    ModelLink Link_;
};

class ButtonView : public QPushButton {
    Q_OBJECT
public:
    explicit ButtonView(Button& model, QWidget* parent = nullptr);
    Button& Model() const { return Model_; }

private:
    void Refresh();
    Button& Model_;
    ModelLink Link_;
};

class LabelView : public QLabel {
    Q_OBJECT
public:
    explicit LabelView(Label& model, QWidget* parent = nullptr);
    Label& Model() const { return Model_; }

private:
    void Refresh();
    Label& Model_;
    ModelLink Link_;
};

// A menu action showing a MenuItem: caption (with its accelerator), checked, enabled, visible.
// Triggering it raises the item's OnClick; the check mark always follows the model.
class MenuAction : public QAction {
    Q_OBJECT
public:
    MenuAction(MenuItem& model, QObject* parent);
    MenuItem& Model() const { return Model_; }

private:
    void Refresh();
    MenuItem& Model_;
    ModelLink Link_;
};

} // namespace zelvox::qt
