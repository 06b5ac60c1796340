#pragma once
// The context menu of the knobs and spin edits: "Learn MIDI controller" (checked while that
// control waits for a controller; chosen again, it stops waiting) and "Forget MIDI controller"
// (enabled when the control has one). One menu serves every control of a window; a right click
// on a control's view points it at that control. Escape in the window stops a pending learn.
// Without a MidiLearn model (no MIDI) the views keep no context menu.

#include <QMenu>
#include <QPointer>
#include <QShortcut>

#include <memory>
#include <optional>
#include <vector>

#include "ui/MidiLearn.h"
#include "ui/qt/ModelLink.h"

namespace zelvox::app {

class LearnMenu : public QMenu {
    Q_OBJECT
public:
    static constexpr const char* kLearnText = "Learn MIDI controller";
    static constexpr const char* kForgetText = "Forget MIDI controller";

    // window: where Escape cancels a pending learn.
    explicit LearnMenu(QWidget* window);
    ~LearnMenu() override;

    void SetModel(MidiLearn* learn);
    MidiLearn* Model() const { return Model_; }
    // A right click on view opens the menu for control id.
    void Attach(QWidget* view, ControlId id);
    // Points the items at control id (what the right click does before the menu opens).
    void PrepareFor(ControlId id);
    std::optional<ControlId> Target() const { return Target_; }

    QAction* LearnAction() const { return Learn_; }
    QAction* ForgetAction() const { return Forget_; }
    QShortcut* EscapeKey() const { return Escape_; }

private:
    void ModelChanged();

    MidiLearn* Model_ = nullptr;
    std::unique_ptr<qt::ModelLink> Link_;
    std::optional<ControlId> Target_;
    QAction* Learn_;
    QAction* Forget_;
    QShortcut* Escape_;
};

} // namespace zelvox::app
