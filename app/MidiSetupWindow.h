#pragma once
// The "MIDI Setup" dialog window on TForm4 (client area 275 x 600): the input device, the
// channel, the last message received, "Enable MIDI"; the CC assignments per voice; the
// controllers learned with "Learn MIDI controller" with "Clear" and "Clear all"; notes in
// (transpose, channel, root note, patterns from notes); "OK" and
// "Cancel". Shown without blocking the main window.

#include "app/ModelWindow.h"
#include "ui/MidiSetup.h"

namespace zelvox::app {

class MidiSetupWindow : public ModelWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 275;
    static constexpr int kClientHeight = 600;

    explicit MidiSetupWindow(TForm4& form, QWidget* parent = nullptr);
    TForm4& Form() const { return Form_; }

private:
    TForm4& Form_;
};

} // namespace zelvox::app
