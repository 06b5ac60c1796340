#include "app/DiceWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSpinBox>
#include <QVBoxLayout>

#include <charconv>
#include <string>

#include "sequencer/NoteNames.h"

namespace zelvox::app {

namespace {

// A bass note by the name the note sliders show (C1 .. C4), typed or stepped.
class NoteSpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;

protected:
    QString textFromValue(int value) const override { return NoteName(value); }
    int valueFromText(const QString& text) const override {
        for (int n = 1; n <= kNoteCount; ++n)
            if (text.compare(NoteName(n), Qt::CaseInsensitive) == 0) return n;
        return value();
    }
    QValidator::State validate(QString& text, int&) const override {
        for (int n = 1; n <= kNoteCount; ++n) {
            const QString name = NoteName(n);
            if (text.compare(name, Qt::CaseInsensitive) == 0) return QValidator::Acceptable;
            if (name.startsWith(text, Qt::CaseInsensitive)) return QValidator::Intermediate;
        }
        return QValidator::Invalid;
    }
};

} // namespace

DiceWindow::DiceWindow(bool mutate, const DiceOptions& o, int32_t amount, QWidget* parent,
                       bool selectedNote)
    : QDialog(parent) {
    setObjectName(mutate ? "MutateWindow" : "RandomiseWindow");
    setWindowTitle(mutate ? "Mutate pattern" : "Randomise pattern");
    auto* form = new QFormLayout;
    Seed_ = new QLineEdit(QString::number(QRandomGenerator::global()->bounded(1000000)), this);
    Seed_->setObjectName("Seed");
    Seed_->setToolTip("The same seed and settings give the same pattern");
    form->addRow("&Seed", Seed_);
    Scale_ = new QComboBox(this);
    Scale_->setObjectName("Scale");
    for (DiceScale s : {DiceScale::Minor, DiceScale::Major, DiceScale::Pentatonic, DiceScale::Chromatic})
        Scale_->addItem(ScaleName(s), int(s));
    Scale_->setCurrentIndex(int(o.Scale));
    form->addRow("S&cale", Scale_);
    auto note = [this](int32_t v, const char* name) {
        auto* b = new NoteSpinBox(this);
        b->setObjectName(name);
        b->setRange(1, kNoteCount);
        b->setValue(v);
        return b;
    };
    Low_ = note(o.Low, "Low");
    High_ = note(o.High, "High");
    auto* range = new QHBoxLayout;
    range->addWidget(Low_);
    range->addWidget(High_);
    // A row whose field is a layout gets no buddy of its own: the label is given one, so that
    // its "&" marks the key instead of showing.
    auto* notes = new QLabel("Bass &notes (root first)", this);
    notes->setBuddy(Low_);
    form->addRow(notes, range);
    if (mutate) {
        Amount_ = new QSpinBox(this);
        Amount_->setObjectName("Amount");
        Amount_->setRange(0, 100);
        Amount_->setSuffix(" %");
        Amount_->setValue(amount);
        form->addRow("Steps to &change", Amount_);
    }
    auto* locks = new QGroupBox("Keep", this);
    auto* grid = new QHBoxLayout(locks);
    auto column = [&](std::initializer_list<std::pair<QCheckBox**, const char*>> boxes) {
        auto* c = new QVBoxLayout;
        for (auto [box, text] : boxes) {
            *box = new QCheckBox(text, locks);
            c->addWidget(*box);
        }
        grid->addLayout(c);
    };
    column({{&BassNotes_, "Bass notes"}, {&BassSound_, "Bass sound"}, {&TwinT_, "Twin-T"}, {&Noise_, "Noise"}});
    column({{&Notes_, "Notes"}, {&Play_, "Play / slide"}, {&Knobs_, "Knobs"}});
    const DiceLocks& l = o.Locks;
    BassNotes_->setChecked(l.BassNotes);
    BassSound_->setChecked(l.BassSound);
    TwinT_->setChecked(l.TwinT);
    Noise_->setChecked(l.Noise);
    Notes_->setChecked(l.Notes);
    Play_->setChecked(l.PlaySlide);
    Knobs_->setChecked(l.Knobs);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Where the sound goes, by the edit mode (as a knob turn goes).
    const char* scope = "Edit mode \"Selected Note\": this pattern only, with a sound of its own.";
    if (!selectedNote)
        scope = mutate ? "Edit mode \"All Notes\": a knob nudged changes in every pattern, as a "
                         "knob turn does; notes and steps in this pattern only."
                       : "Edit mode \"All Notes\": the new sound goes to every pattern, as a knob "
                         "turn does; notes and steps to this pattern only.";
    auto* where = new QLabel(scope, this);
    where->setObjectName("Scope");
    where->setWordWrap(true);
    auto* all = new QVBoxLayout(this);
    all->addLayout(form);
    all->addWidget(locks);
    all->addWidget(where);
    all->addWidget(buttons);
}

bool DiceWindow::Seed(uint64_t& seed) const {
    const std::string t = Seed_->text().trimmed().toStdString();
    const auto r = std::from_chars(t.data(), t.data() + t.size(), seed);
    return !t.empty() && r.ec == std::errc() && r.ptr == t.data() + t.size();
}

DiceOptions DiceWindow::Options() const {
    DiceOptions o;
    o.Scale = DiceScale(Scale_->currentData().toInt());
    o.Low = std::min(Low_->value(), High_->value());
    o.High = std::max(Low_->value(), High_->value());
    o.Locks = {BassNotes_->isChecked(), BassSound_->isChecked(), TwinT_->isChecked(), Noise_->isChecked(),
               Notes_->isChecked(),     Play_->isChecked(),      Knobs_->isChecked()};
    return o;
}

int32_t DiceWindow::Amount() const {
    return Amount_ ? Amount_->value() : 0;
}

} // namespace zelvox::app
