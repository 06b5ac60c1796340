#include "app/MidiSetupWindow.h"

#include <QGroupBox>

#include "ui/qt/StdViews.h"

namespace zelvox::app {

using namespace zelvox::qt;

namespace {
LabelView* Text(Label& m, QWidget* parent, QRect where, Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
    auto* l = new LabelView(m, parent);
    l->setGeometry(where);
    l->setAlignment(align);
    return l;
}
} // namespace

MidiSetupWindow::MidiSetupWindow(TForm4& form, QWidget* parent) : ModelWindow(form.Form4, parent), Form_(form) {
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PanelFont(11));

    auto* device = new QGroupBox(ToQString(form.GroupBox1.Caption()), this);
    device->setObjectName("GroupBox1");
    device->setGeometry(6, 4, kClientWidth - 12, 164);
    Text(form.Label3, device, QRect(8, 20, 110, 20));
    auto* combo = new ComboBoxView(form.Combobox1, device);
    combo->setGeometry(8, 40, kClientWidth - 28, 22);
    Text(form.Label1, device, QRect(8, 68, 110, 20));
    auto* channel = new SpinEditView(form.SpinEdit971, true, device);
    channel->setGeometry(118, 67, 56, 22);
    Text(form.Label2, device, QRect(8, 92, 110, 14));
    Text(form.Label4, device, QRect(8, 105, 110, 14));
    auto* last = Text(form.edit1, device, QRect(118, 94, 90, 22), Qt::AlignCenter);
    last->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    last->setAutoFillBackground(true);
    QPalette pal = last->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 255));
    last->setPalette(pal);
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(12);
    last->setFont(mono);
    Text(form.Label10, device, QRect(8, 122, 110, 20));
    auto* enable = new CheckBoxView(form.CheckBox1, device);
    enable->setGeometry(118, 122, 40, 20);
    auto* status = Text(form.MidiStatus, device, QRect(8, 142, kClientWidth - 28, 20));
    status->setWordWrap(true);
    status->setFont(PanelFont(9));

    auto* assign = new QGroupBox(ToQString(form.GroupBox2.Caption()), this);
    assign->setObjectName("GroupBox2");
    assign->setGeometry(6, 172, kClientWidth - 12, 116);
    Text(form.Label5, assign, QRect(96, 18, 90, 16));
    Text(form.Label6, assign, QRect(166, 18, 90, 16));
    struct Row {
        Label& Name;
        ComboBox& List;
        SpinEdit& Cc;
    };
    const Row rows[] = {{form.Label7, form.SComboBox971, form.SpinEdit972},
                        {form.Label8, form.SComboBox972, form.SpinEdit973},
                        {form.Label9, form.SComboBox973, form.SpinEdit974}};
    int y = 36;
    for (const Row& r : rows) {
        Text(r.Name, assign, QRect(8, y, 86, 22));
        auto* list = new ComboBoxView(r.List, assign);
        list->setGeometry(94, y, 88, 22);
        auto* cc = new SpinEditView(r.Cc, true, assign);
        cc->setGeometry(190, y, 60, 22);
        y += 26;
    }

    auto* learn = new QGroupBox(ToQString(form.GroupBox3.Caption()), this);
    learn->setObjectName("GroupBox3");
    learn->setGeometry(6, 292, kClientWidth - 12, 122);
    auto* list = new ListBoxView(form.LearnList, learn);
    list->setGeometry(8, 20, kClientWidth - 28, 64);
    list->setToolTip("Right-click a knob or spin edit and choose \"Learn MIDI controller\" to add one");
    auto* clear = new ButtonView(form.Button3, learn);
    clear->setGeometry(8, 88, 78, 24);
    auto* clearAll = new ButtonView(form.Button4, learn);
    clearAll->setGeometry(92, 88, 78, 24);

    auto* notes = new QGroupBox(ToQString(form.GroupBox4.Caption()), this);
    notes->setObjectName("GroupBox4");
    notes->setGeometry(6, 418, kClientWidth - 12, 142);
    struct NoteRow {
        Label& Name;
        Control& Edit;
        bool Box;
    };
    const NoteRow noteRows[] = {{form.NotesTransposeLabel, form.NotesTranspose, true},
                                {form.NotesChannelLabel, form.NotesChannel, false},
                                {form.NotesRootLabel, form.NotesRoot, false},
                                {form.NotesPatternsLabel, form.NotesPatterns, true},
                                {form.NotesFirstPatternLabel, form.NotesFirstPattern, false}};
    y = 20;
    for (const NoteRow& r : noteRows) {
        Text(r.Name, notes, QRect(8, y, 140, 22));
        if (r.Box) {
            auto* box = new CheckBoxView(static_cast<CheckBox&>(r.Edit), notes);
            box->setGeometry(150, y, 40, 22);
        } else {
            auto* spin = new SpinEditView(static_cast<SpinEdit&>(r.Edit), true, notes);
            spin->setGeometry(150, y, 96, 22);
        }
        y += 24;
    }

    auto* ok = new ButtonView(form.Button1, this);
    ok->setGeometry(kClientWidth - 172, kClientHeight - 34, 78, 26);
    ok->setDefault(true);
    auto* cancel = new ButtonView(form.Button2, this);
    cancel->setGeometry(kClientWidth - 88, kClientHeight - 34, 78, 26);
    Refresh();
}

} // namespace zelvox::app
