#pragma once
// The "Audio setup" dialog window on TAudioSetupForm: the buffer-count slider 1..120 with
// "Min" and "Max" at its ends and the latency it gives beside it, the sound system and device
// lists, how the low-latency JACK output keeps time and whether it sends MIDI notes (on
// which channels, the drums on which notes), "OK" and "Cancel". Shown without blocking the main window.

#include <QWidget>

#include "ui/AudioSetup.h"

namespace zelvox::app {

class AudioSetupWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 330;
    static constexpr int kClientHeight = 296;

    explicit AudioSetupWindow(TAudioSetupForm& form, QWidget* parent = nullptr);
    ~AudioSetupWindow() override;
    TAudioSetupForm& Form() const { return Form_; }

private:
    TAudioSetupForm& Form_;
};

} // namespace zelvox::app
