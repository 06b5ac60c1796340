#pragma once
// The "Synth envelopes" window, a view on EnvelopeForm: four contour spin edits with their
// number boxes and 128 x 100 bar-graph previews, and "OK". Shown without blocking the main
// window; the model's Form5 visibility decides whether it is on screen.

#include <QWidget>

#include "app/ModelWindow.h"
#include "ui/EnvelopeForm.h"
#include "ui/MidiLearn.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::app {

class LearnMenu;

// A curve preview: lime background, one black bar per column from the bottom up to the model's
// bar top.
class PreviewView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewView(PreviewImage& model, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {PreviewImage::kWidth, PreviewImage::kHeight}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    PreviewImage& Model_;
    qt::ModelLink Link_;
};

class EnvelopeWindow : public ModelWindow {
    Q_OBJECT
public:
    explicit EnvelopeWindow(EnvelopeForm& form, QWidget* parent = nullptr);
    ~EnvelopeWindow() override;
    EnvelopeForm& Form() const { return Form_; }
    // MIDI learn on the contour spin edits (null: no MIDI, no menu).
    void SetMidiLearn(MidiLearn* learn);
    LearnMenu* ControlMenu() const { return LearnMenu_; }

private:
    EnvelopeForm& Form_;
    LearnMenu* LearnMenu_;
};

} // namespace zelvox::app
