#include "app/LearnMenu.h"

#include "app/ErrorDisplay.h"

namespace zelvox::app {

LearnMenu::LearnMenu(QWidget* window) : QMenu(window) {
    setObjectName("LearnMenu");
    Learn_ = addAction(kLearnText);
    Learn_->setObjectName("LearnMidiController");
    Learn_->setCheckable(true);
    Forget_ = addAction(kForgetText);
    Forget_->setObjectName("ForgetMidiController");
    connect(Learn_, &QAction::triggered, this, [this] {
        if (Model_ && Target_) Guarded([this] { Model_->LearnClick(*Target_); });
        ModelChanged();
    });
    connect(Forget_, &QAction::triggered, this, [this] {
        if (Model_ && Target_) Guarded([this] { Model_->Clear(*Target_); });
    });
    // Only while a learn waits, so that Escape keeps its other uses in the window.
    Escape_ = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    Escape_->setObjectName("KeyCancelLearn");
    Escape_->setContext(Qt::WindowShortcut);
    Escape_->setEnabled(false);
    connect(Escape_, &QShortcut::activated, this, [this] {
        if (Model_) Model_->Cancel();
    });
}

LearnMenu::~LearnMenu() = default;

void LearnMenu::SetModel(MidiLearn* learn) {
    Link_.reset();
    Model_ = learn;
    if (Model_) Link_ = std::make_unique<qt::ModelLink>(*Model_, [this] { ModelChanged(); });
    ModelChanged();
}

void LearnMenu::Attach(QWidget* view, ControlId id) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QPointer<QWidget> v(view);
    connect(view, &QWidget::customContextMenuRequested, this, [this, v, id](const QPoint& at) {
        if (!Model_ || !v) return;
        PrepareFor(id);
        popup(v->mapToGlobal(at));
    });
}

void LearnMenu::PrepareFor(ControlId id) {
    Target_ = id;
    ModelChanged();
}

void LearnMenu::ModelChanged() {
    const bool waiting = Model_ && Target_ && Model_->Pending() == Target_;
    Learn_->setChecked(waiting);
    Forget_->setEnabled(Model_ && Target_ && Model_->Map()[size_t(*Target_)].Mapped());
    Escape_->setEnabled(Model_ && Model_->Pending().has_value());
}

} // namespace zelvox::app
