#pragma once
// The "Synth envelopes" window (TForm5) without a toolkit: four contour spin edits, their
// read-only number boxes and bar-graph previews. Each change rebuilds its synth's curve table
// at once, so it takes effect on the next rendered sample. The settings are not kept
// between runs; pattern files carry them (they set the spin edits, which runs the handlers).

#include <array>
#include <cstdint>
#include <memory>

#include "ui/ControlRows.h"
#include "engine/Tables.h"
#include "ui/Controls.h"

namespace zelvox {

class PatternSynth;

// A 128 x 100 bar graph: bar x runs from y = 100 up to Bars[x] on a lime background.
class PreviewImage : public Control {
public:
    static constexpr int kWidth = 128;  // pixels, one bar per 256 table entries
    static constexpr int kHeight = 100; // pixels
    using Control::Control;
    const std::array<int32_t, kWidth>& Bars() const { return Bars_; }
    // Bar tops from every 256th entry of a 0..1 curve: round(100 - curve[x * 256] * 100).
    void Draw(const float* curve);

private:
    std::array<int32_t, kWidth> Bars_{};
};

class EnvelopeForm {
public:
    EnvelopeForm();
    EnvelopeForm(const EnvelopeForm&) = delete;
    EnvelopeForm& operator=(const EnvelopeForm&) = delete;

    Control Form5{"Form5"}; // caption "Synth envelopes"; Visible while shown
    Label Heading{"Label1", "Select envelope contours"};
    Label BassGroup{"GroupBox1", "Bass"};
    Label TwinTGroup{"GroupBox2", "Twin-T"};
    Label NoiseGroup{"GroupBox3", "Noise"};
    SpinEdit SpinEdit971 = ValueControlFor(ControlId::BassAttackContour);
    SpinEdit SpinEdit972 = ValueControlFor(ControlId::BassDecayContour);
    SpinEdit SpinEdit973 = ValueControlFor(ControlId::TwinTDecayContour);
    SpinEdit SpinEdit974 = ValueControlFor(ControlId::NoiseDecayContour);
    Label FlatEdit971{"FlatEdit971", ""}; // 0..100 figure of each setting
    Label FlatEdit972{"FlatEdit972", ""};
    Label FlatEdit973{"FlatEdit973", ""};
    Label FlatEdit974{"FlatEdit974", ""};
    Button Button1{"Button1", "OK"};

    PreviewImage Image1{"Image1"}, Image2{"Image2"}, Image3{"Image3"}, Image4{"Image4"};

    // The synth whose contour settings these are (its saved state carries them); without one
    // the dialog builds curves of its own, for its previews only.
    void SetSynth(PatternSynth* synth) { Synth_ = synth; }

    void FormCreate(); // builds all four curves, attack first
    void SpinEdit971Change() { ContourChange(0); }
    void SpinEdit972Change() { ContourChange(1); }
    void SpinEdit973Change() { ContourChange(2); }
    void SpinEdit974Change() { ContourChange(3); }
    // Contour c (0 bass attack, 1 bass decay, 2 Twin-T decay, 3 noise decay) changed: its
    // curve is rebuilt, its figure and preview follow.
    void ContourChange(int c);
    void Button1Click(); // closes the window
    void Show() { Form5.SetVisible(true); }

    // The dialog's spin edit for a contour row of kControls; null for other rows.
    ValueControl* ControlFor(ControlId id) {
        const int c = int(id) - int(ControlId::BassAttackContour);
        return c >= 0 && c < 4 ? &Contour(c).Spin : nullptr;
    }
    const ValueControl* ControlFor(ControlId id) const {
        return const_cast<EnvelopeForm*>(this)->ControlFor(id);
    }

private:
    struct ContourRow {
        SpinEdit& Spin;
        Label& Figure;
        PreviewImage& Preview;
    };
    ContourRow Contour(int c);
    PatternSynth* Synth_ = nullptr;
    std::unique_ptr<ContourCurves> Own_; // without a synth: the previews' curves
};

} // namespace zelvox
