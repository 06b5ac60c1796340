#pragma once
// Edit > Randomise and Edit > Mutate: the seed (a new one offered each time, any one typed
// again gives the same pattern), the scale and the bass notes' range, for Mutate the share
// of steps, and the locks; a line says where the sound goes in the edit mode in force. The
// work is the model's (MainForm::DicePattern, sequencer/PatternDice); this only asks.

#include <QDialog>

#include <cstdint>

#include "sequencer/PatternDice.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace zelvox::app {

class DiceWindow : public QDialog {
    Q_OBJECT
public:
    // `mutate`: the Mutate dialog (with its amount), else Randomise. `selectedNote`: the edit
    // mode is "Selected Note" (the pattern keeps a sound of its own), else "All Notes" (the
    // sound goes to every pattern); the dialog says which.
    DiceWindow(bool mutate, const DiceOptions& options, int32_t amount, QWidget* parent = nullptr,
               bool selectedNote = false);

    // After accept: what was chosen. Seed false when the text is not a whole number.
    bool Seed(uint64_t& seed) const;
    DiceOptions Options() const;
    int32_t Amount() const;

private:
    QLineEdit* Seed_;
    QComboBox* Scale_;
    QSpinBox *Low_, *High_, *Amount_ = nullptr;
    QCheckBox *BassNotes_, *BassSound_, *TwinT_, *Noise_, *Notes_, *Play_, *Knobs_;
};

} // namespace zelvox::app
