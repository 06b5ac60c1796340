#include "ui/EnvelopeForm.h"

#include <string>

#include "engine/Round.h"
#include "engine/Tables.h"
#include "synth/PatternSynth.h"

namespace zelvox {

EnvelopeForm::EnvelopeForm() {
    Form5.SetCaption("Synth envelopes");
    Form5.SetVisible(false);
    for (int c = 0; c < kContourCount; ++c)
        Contour(c).Spin.OnChange = [this, c] { ContourChange(c); };
    Button1.OnClick = [this] { Button1Click(); };
}

void EnvelopeForm::FormCreate() {
    SpinEdit971Change();
    SpinEdit972Change();
    SpinEdit973Change();
    SpinEdit974Change();
}

EnvelopeForm::ContourRow EnvelopeForm::Contour(int c) {
    switch (c) {
    case 0:
        return {SpinEdit971, FlatEdit971, Image1};
    case 1:
        return {SpinEdit972, FlatEdit972, Image2};
    case 2:
        return {SpinEdit973, FlatEdit973, Image3};
    default:
        return {SpinEdit974, FlatEdit974, Image4};
    }
}

void EnvelopeForm::ContourChange(int c) {
    const ContourRow row = Contour(c);
    const int32_t v = row.Spin.Value();
    row.Figure.SetCaption(std::to_string(ContourFigure(c, v)));
    if (Synth_) {
        Synth_->ControlChanged(ControlId(int(ControlId::BassAttackContour) + c), v);
        row.Preview.Draw(Synth_->Eng.Curves.Curve(c));
        return;
    }
    if (!Own_) Own_ = std::make_unique<ContourCurves>();
    Own_->Build(c, v);
    row.Preview.Draw(Own_->Curve(c));
}

void EnvelopeForm::Button1Click() {
    Form5.SetVisible(false);
}

void PreviewImage::Draw(const float* curve) {
    for (int x = 0; x < kWidth; ++x) {
        // Curve values are 0..1, so the bar top stays within 0..100.
        const float top = 100.0f - curve[x * 256] * 100.0f;
        Bars_[static_cast<size_t>(x)] = RoundToInt32(top);
    }
    NotifyViews();
}

} // namespace zelvox
